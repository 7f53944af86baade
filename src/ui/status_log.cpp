#include "ui/status_log.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QKeySequence>
#include <QListWidget>
#include <QMenu>
#include <QScrollBar>
#include <utility>

#include "ui/paint_throttle.h"

namespace wendrel::ui {

const QColor StatusLog::kFailure = QColor(0xb0, 0x00, 0x20);
const QColor StatusLog::kWarning = QColor(0x9a, 0x5b, 0x00);

StatusLog::StatusLog(QListWidget* list)
    : QObject(list), list_(list), paint_(new PaintThrottle(list)) {
    // Several lines can be chosen to be copied; choosing one still works as before.
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, &StatusLog::show_menu);
    // The list lays out new lines later, so the range grows after they are added: the view
    // follows it then, while the user has left it at the end.
    QScrollBar* bar = list_->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this,
            [this, bar](int value) { following_ = value >= bar->maximum(); });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (following_) {
            bar->setValue(maximum);
        }
    });
}

void StatusLog::add(const QString& line, const QColor& colour) {
    list_->addItem(line);
    if (colour.isValid()) {
        list_->item(list_->count() - 1)->setForeground(colour);
    }
    paint_->changed();
}

void StatusLog::clear() {
    list_->clear();
    paint_->changed();
}

void StatusLog::mark_last(int count, const QColor& colour) {
    for (int row = std::max(0, list_->count() - count); row < list_->count(); ++row) {
        list_->item(row)->setForeground(colour);
    }
    paint_->changed();
}

void StatusLog::flush() {
    paint_->flush();
}

void StatusLog::set_stop(std::function<bool()> running, std::function<void()> stop) {
    running_ = std::move(running);
    stop_ = std::move(stop);
}

QString StatusLog::text(bool selected_only) const {
    QString all;
    for (int row = 0; row < list_->count(); ++row) {
        const QListWidgetItem* item = list_->item(row);
        if (!selected_only || item->isSelected()) {
            all += item->text() + u'\n';
        }
    }
    return all;
}

void StatusLog::show_menu(const QPoint& at) {
    QMenu menu(list_);
    QAction* copy = menu.addAction(QStringLiteral("复制"));
    copy->setEnabled(!list_->selectedItems().isEmpty());
    QAction* copy_all = menu.addAction(QStringLiteral("复制全部"));
    QAction* save = menu.addAction(QStringLiteral("保存到文件…"));
    copy_all->setEnabled(list_->count() > 0);
    save->setEnabled(list_->count() > 0);
    menu.addSeparator();
    QAction* preview = menu.addAction(QStringLiteral("预览"));
    QAction* stop = menu.addAction(QStringLiteral("停止"));
    const bool running = running_ && running_();
    preview->setEnabled(preview_ && !running);
    stop->setEnabled(running);
    QAction* undo = menu.addAction(QStringLiteral("撤销上次替换"));
    undo->setShortcut(QKeySequence::Undo);
    undo->setEnabled(undo_ && !running);
    const QAction* chosen = menu.exec(list_->viewport()->mapToGlobal(at));
    if (chosen == undo) {
        undo_();
    } else if (chosen == stop) {
        // The job may have ended while the menu was open: stopping an idle job does nothing.
        stop_();
    } else if (chosen == copy || chosen == copy_all) {
        QApplication::clipboard()->setText(text(chosen == copy));
    } else if (chosen == save) {
        this->save();
    } else if (chosen == preview) {
        preview_();  // refused by the window if a job started meanwhile
    }
}

void StatusLog::save() {
    const QString path = QFileDialog::getSaveFileName(
        list_->window(), QStringLiteral("保存状态记录"), QStringLiteral("wendrel.log"));
    if (path.isEmpty()) {
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(text(false).toUtf8()) < 0 || !file.flush()) {
        add(QStringLiteral("未能保存状态记录到") + path + QStringLiteral("--"), kFailure);
        add(QStringLiteral("  原因：") + file.errorString(), kFailure);
    }
}

}  // namespace wendrel::ui
