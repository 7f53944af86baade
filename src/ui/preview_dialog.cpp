#include "ui/preview_dialog.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <exception>

#include "core/messages.h"
#include "core/posix_file_system.h"
#include "ui/platform.h"

namespace wendrel::ui {

using namespace Qt::Literals::StringLiterals;
using Piece = core::UnifiedDiff::Piece;

namespace {

enum Column { kFile, kOutcome, kReplacements };
constexpr int kDiffRole = Qt::UserRole;  // a row's index into the diffs, when it has one

QString outcome_text(core::JobObserver::Outcome outcome) {
    switch (outcome) {
        case core::JobObserver::Outcome::changed:
            return u"会改动"_s;
        case core::JobObserver::Outcome::unchanged:
            return u"不会改动"_s;
        case core::JobObserver::Outcome::skipped:
            return u"跳过"_s;
        case core::JobObserver::Outcome::failed:
            break;
    }
    return u"会失败"_s;
}

QColor background(Piece piece) {
    switch (piece) {
        case Piece::removed:
            return QColor(0xff, 0xd7, 0xd5);
        case Piece::added:
            return QColor(0xcc, 0xff, 0xd8);
        case Piece::hunk_header:
            return QColor(0xe4, 0xe4, 0xe4);
        default:
            return {};
    }
}

}  // namespace

PreviewDialog::PreviewDialog(const core::JobInputs& inputs, core::ReplaceJob::Clock clock,
                             QWidget* parent)
    // A dry run writes nothing, so it needs no writer threads.
    : QDialog(parent),
      job_(*this, core::PosixFileSystem::instance(), std::move(clock), 0),
      timer_(new QTimer(this)),
      targets_(new QTreeWidget(this)),
      diff_view_(new QTextEdit(this)),
      status_(new QLabel(this)),
      cm_replace_(new QPushButton(u"开始替换"_s, this)),
      cm_close_(new QPushButton(u"关闭"_s, this)) {
    setObjectName(u"fm_preview"_s);
    setWindowTitle(u"预览"_s);
    setModal(true);
    setFixedSize(760, 520);
    setFont(platform::dialog_font());
    targets_->setObjectName(u"ls_targets"_s);
    targets_->setHeaderLabels({u"文件"_s, u"结果"_s, u"替换处数"_s});
    targets_->setRootIsDecorated(false);
    targets_->header()->setStretchLastSection(false);
    targets_->header()->setSectionResizeMode(kFile, QHeaderView::Stretch);
    diff_view_->setObjectName(u"txt_diff"_s);
    diff_view_->setReadOnly(true);
    diff_view_->setLineWrapMode(QTextEdit::NoWrap);
    diff_view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    status_->setObjectName(u"lbl_status"_s);
    status_->setWordWrap(true);
    cm_replace_->setObjectName(u"cm_replace"_s);
    cm_close_->setObjectName(u"cm_close"_s);

    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(targets_);
    split->addWidget(diff_view_);
    split->setSizes({180, 260});
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(status_, 1);
    buttons->addWidget(cm_replace_);
    buttons->addWidget(cm_close_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(split, 1);
    layout->addLayout(buttons);

    connect(cm_replace_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cm_close_, &QPushButton::clicked, this, &QDialog::reject);
    connect(targets_, &QTreeWidget::currentItemChanged, this,
            [this](const QTreeWidgetItem* item) { show_diff(item); });
    connect(timer_, &QTimer::timeout, this, &PreviewDialog::tick);
    cm_close_->setDefault(true);

    core::JobInputs dry = inputs;
    dry.dry_run = true;
    dry.want_preview = true;
    job_.start(dry);
    timer_->start(0);
}

PreviewDialog::~PreviewDialog() {
    job_.stop();
}

void PreviewDialog::done(int result) {
    timer_->stop();
    job_.stop();
    QDialog::done(result);
}

void PreviewDialog::tick() {
    if (job_.timer1_on()) {
        job_.tick_timer1();
    } else if (job_.timer2_on()) {
        job_.tick_timer2();
    }
    if (!job_.running()) {
        timer_->stop();
        select_first_change();
    }
}

// The label shows the job's latest line, with the reason under a failure line.
void PreviewDialog::add_status_line(const std::string& line) {
    const QString text = QString::fromStdString(line);
    if (line.starts_with(core::messages::kReasonPrefix)) {
        last_reason_ = text.trimmed();
        status_->setText(status_->text() + u'\n' + last_reason_);
    } else {
        status_->setText(text);
    }
}

void PreviewDialog::show_input_check(const std::string& text) {
    status_->setText(QString::fromStdString(text));
}

void PreviewDialog::preview_ready(const std::string& path, std::string_view before,
                                  std::string_view after, std::size_t replacements) {
    pending_replacements_ = replacements;
    pending_diff_.clear();
    try {
        core::UnifiedDiff(before, after).write(path, [this](Piece piece, std::string_view line) {
            line.remove_suffix(line.ends_with("\r\n") ? 2 : 1);
            pending_diff_.emplace_back(
                piece, QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
        });
    } catch (const std::exception&) {
        pending_diff_.clear();  // no memory for this file's diff: its row shows none
    }
}

void PreviewDialog::target_finished(const std::string& path, Outcome outcome) {
    auto* row = new QTreeWidgetItem(targets_);
    row->setText(kFile, QString::fromStdString(core::messages::escaped(path)));
    row->setToolTip(kFile, row->text(kFile));
    row->setText(kOutcome, outcome_text(outcome));
    if (outcome == Outcome::changed || outcome == Outcome::unchanged) {
        row->setText(kReplacements, QString::number(pending_replacements_));
        row->setTextAlignment(kReplacements, Qt::AlignRight | Qt::AlignVCenter);
    }
    if (outcome == Outcome::failed) {
        auto* reason = new QTreeWidgetItem(row, {last_reason_});
        reason->setFirstColumnSpanned(true);
        row->setExpanded(true);
    }
    if (!pending_diff_.empty()) {
        row->setData(kFile, kDiffRole, QVariant::fromValue(diffs_.size()));
        diffs_.push_back(std::move(pending_diff_));
    }
    pending_diff_.clear();
    pending_replacements_ = 0;
}

// Unless the user has chosen a row already, the first one with a diff is shown.
void PreviewDialog::select_first_change() {
    for (int row = 0; targets_->selectedItems().isEmpty() && row < targets_->topLevelItemCount();
         ++row) {
        if (targets_->topLevelItem(row)->data(kFile, kDiffRole).isValid()) {
            targets_->setCurrentItem(targets_->topLevelItem(row));
        }
    }
}

void PreviewDialog::show_diff(const QTreeWidgetItem* item) {
    diff_view_->clear();
    const QVariant index = item != nullptr ? item->data(kFile, kDiffRole) : QVariant();
    if (!index.isValid()) {
        return;
    }
    QTextCursor cursor(diff_view_->document());
    bool first = true;
    for (const auto& [piece, text] : diffs_[index.value<std::size_t>()]) {
        QTextBlockFormat block;
        if (const QColor colour = background(piece); colour.isValid()) {
            block.setBackground(colour);
        }
        QTextCharFormat chars;
        chars.setFontWeight(piece == Piece::file_header ? QFont::Bold : QFont::Normal);
        if (first) {
            cursor.setBlockFormat(block);
            first = false;
        } else {
            cursor.insertBlock(block);
        }
        cursor.insertText(text, chars);
    }
    diff_view_->moveCursor(QTextCursor::Start);
}

}  // namespace wendrel::ui
