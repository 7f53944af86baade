#include "ui/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QWindow>
#include <algorithm>

#include "core/journal.h"
#include "core/posix_file_system.h"
#include "ui/about_box.h"
#include "ui/clickable_picture.h"
#include "ui/dir_chooser.h"
#include "ui/exclusion_gate.h"
#include "ui/field_drop.h"
#include "ui/field_recall.h"
#include "ui/file_chooser.h"
#include "ui/focus_border.h"
#include "ui/paint_throttle.h"
#include "ui/platform.h"
#include "ui/preview_dialog.h"
#include "ui/scaled_progress_bar.h"
#include "ui/status_log.h"
#include "ui/window_style.h"

namespace wendrel::ui {

using namespace Qt::Literals::StringLiterals;

namespace {

using platform::from_twips;

template <typename Widget>
Widget* make(QWidget* container, const char* name, const QRect& geometry) {
    auto* widget = new Widget(container);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

QPushButton* make_picture_button(QWidget* container, const char* name, const QRect& geometry,
                                 const QString& icon_name, const QString& hint) {
    auto* button = make<QPushButton>(container, name, geometry);
    button->setIcon(platform::resource_icon(icon_name));
    button->setIconSize(QSize(16, 16));
    button->setToolTip(hint);
    return button;
}

QLineEdit* make_field(QWidget* container, const char* name, const QRect& geometry) {
    auto* field = make<QLineEdit>(container, name, geometry);
    field->setFrame(false);
    return field;
}

QLabel* make_label(QWidget* container, const char* name, const QRect& geometry,
                   const QString& caption) {
    auto* label = make<QLabel>(container, name, geometry);
    label->setText(caption);
    return label;
}

QListWidget* make_list(QWidget* container, const char* name, const QRect& geometry) {
    auto* list = make<QListWidget>(container, name, geometry);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    // Like the list boxes the window was designed with: long lines are cut at the right edge
    // rather than giving up one of the few visible lines to a scroll bar.
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Every line has the same height. Saying so spares the view from measuring every line
    // again each time one is added, which made a long job's log cost quadratic time.
    list->setUniformItemSizes(true);
    return list;
}

QTimer* make_timer(QObject* owner, const char* name) {
    auto* timer = new QTimer(owner);
    timer->setObjectName(QString::fromLatin1(name));
    // One job tick per timeout; with 0 ms the ticks follow each other at once while input
    // and painting are still handled between them.
    timer->setInterval(0);
    return timer;
}

// Characters, not UTF-16 units: a character outside the BMP is two units.
QString without_last_character(const QString& text) {
    const qsizetype units =
        text.size() >= 2 && text.back().isLowSurrogate() && text[text.size() - 2].isHighSurrogate()
            ? 2
            : 1;
    return text.chopped(std::min(units, text.size()));
}

// A tick that waits for a write-back is made again this much later rather than at once, so that
// a long sync to disk does not keep a processor busy; the window stays responsive either way.
constexpr int kWaitingTickMs = 10;

void set_running(QTimer& timer, bool on) {
    if (on && !timer.isActive()) {
        timer.start(0);
    } else if (!on && timer.isActive()) {
        timer.stop();
    }
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : MainWindow(&platform::local_time_text, parent) {}

MainWindow::MainWindow(Clock clock, QWidget* parent)
    : QWidget(parent),
      clock_(std::move(clock)),
      job_(*this, core::PosixFileSystem::instance(), clock_),
      undo_(*this, core::PosixFileSystem::instance(), clock_) {
    build_window();
    build_change_frame();
    build_set_frame();
    build_fileinfo_frame();
    set_tab_order();
    connect_events();
    new FocusBorder({txt_source_, txt_except_, txt_change_}, this);
    new FieldDrop(txt_source_, txt_except_, txt_change_, this);
    recall_ = new FieldRecall({txt_source_, txt_except_, txt_change_}, this);
    WindowStyle::apply_to(*this);
    txt_source_->setFocus(Qt::OtherFocusReason);
    job_.keep_undo_in(core::Journal::default_root());
}

MainWindow::~MainWindow() {
    job_.stop();  // destroyed without being closed: still no file left half-done
    undo_.stop();
    // They are windows of their own, not children of this one.
    delete chooser_;
    delete about_;
}

void MainWindow::build_window() {
    setObjectName(u"fm_wendrel"_s);
    setWindowTitle(u"文件替换"_s);
    // A fixed dialog border with only a close box, but a window of its own in the task bar.
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowIcon(platform::resource_icon(u"wendrel"_s));
    setFont(platform::window_font());
    setFixedSize(from_twips(0, 0, 5475, 3915).size());
    platform::centre_on_screen(*this);

    // Creation order is drawing order: a later control is drawn over an earlier one.
    progressbar_ = make<ScaledProgressBar>(this, "progressbar", from_twips(0, 3600, 5475, 315));
    progressbar_->setTextVisible(false);
    ls_status_ = make_list(this, "ls_status", from_twips(0, 2460, 5475, 1140));
    // A long path is shortened in its middle, so that the file name and the time stay in view.
    ls_status_->setTextElideMode(Qt::ElideMiddle);
    status_log_ = new StatusLog(ls_status_);
    progress_paint_ = new PaintThrottle(progressbar_);
}

void MainWindow::build_change_frame() {
    fm_change_ = make<QGroupBox>(this, "fm_change", from_twips(0, 0, 3855, 2415));
    fm_change_->setTitle(u"替换内容"_s);

    cm_change_ = make_picture_button(fm_change_, "cm_change", from_twips(3540, 1680, 270, 270),
                                     u"open_folder"_s, u"选择文件"_s);
    txt_change_ = make_field(fm_change_, "txt_change", from_twips(300, 1680, 3255, 270));
    cm_start_ = make<QPushButton>(fm_change_, "cm_start", from_twips(2700, 1980, 1095, 375));
    cm_start_->setText(u"开始！"_s);

    cm_except_ = make<QPushButton>(fm_change_, "cm_except", from_twips(3540, 1080, 270, 270));
    cm_except_->setText(u"＋"_s);
    cm_except_->setFont(platform::except_button_font());
    cm_except_->setToolTip(u"选择添加文件"_s);
    cm_except_->setEnabled(false);
    txt_except_ = make_field(fm_change_, "txt_except", from_twips(300, 1080, 3255, 270));
    txt_except_->setEnabled(false);

    cm_choosefile_ =
        make_picture_button(fm_change_, "cm_choosefile", from_twips(3540, 480, 270, 270),
                            u"open_folder"_s, u"选择文件"_s);
    cm_choosedir_ = make_picture_button(fm_change_, "cm_choosedir", from_twips(3300, 480, 270, 270),
                                        u"folder_search"_s, u"选择目录（目录下文件）"_s);
    txt_source_ = make_field(fm_change_, "txt_source", from_twips(300, 480, 3015, 270));

    img_about_ = make<ClickablePicture>(fm_change_, "img_about", from_twips(60, 1980, 375, 375));
    img_about_->setPixmap(platform::resource_icon(u"wendrel"_s).pixmap(32, 32));
    img_about_->setScaledContents(true);

    make_label(fm_change_, "Label3", from_twips(120, 1440, 1695, 195), u"替换内容来源"_s);
    make_label(fm_change_, "Label2", from_twips(120, 840, 1695, 195), u"除去文件"_s);
    make_label(fm_change_, "Label1", from_twips(120, 240, 1695, 195), u"替换文件来源"_s);
}

void MainWindow::build_set_frame() {
    fm_set_ = make<QGroupBox>(this, "fm_set", from_twips(3900, 0, 1575, 975));
    fm_set_->setTitle(u"选项"_s);
    chk_qzpp_ = make<QCheckBox>(fm_set_, "chk_qzpp", from_twips(60, 600, 1455, 255));
    chk_qzpp_->setText(u"全字匹配"_s);
    chk_dxx_ = make<QCheckBox>(fm_set_, "chk_dxx", from_twips(60, 240, 1455, 255));
    chk_dxx_->setText(u"区分大小写"_s);
    chk_dxx_->setChecked(true);
}

void MainWindow::build_fileinfo_frame() {
    fm_fileinfo_ = make<QGroupBox>(this, "fm_fileinfo", from_twips(3900, 1020, 1575, 1395));
    fm_fileinfo_->setTitle(u"文件信息"_s);
    timer2_ = make_timer(fm_fileinfo_, "timer2");
    timer1_ = make_timer(fm_fileinfo_, "timer1");
    // The hidden target list and folder list of the design are not needed: the job keeps its
    // own target list and lists folders itself.
    ls_fileinfo_ = make_list(fm_fileinfo_, "ls_fileinfo", from_twips(60, 180, 1455, 1140));
    // A line too long for the narrow list keeps both its head and its number in view.
    ls_fileinfo_->setTextElideMode(Qt::ElideMiddle);
}

void MainWindow::set_tab_order() {
    const QList<QWidget*> order = {txt_source_, cm_choosedir_, cm_choosefile_, txt_except_,
                                   cm_except_,  txt_change_,   cm_change_,     chk_dxx_,
                                   chk_qzpp_,   cm_start_,     ls_fileinfo_,   ls_status_};
    for (qsizetype i = 1; i < order.size(); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
}

void MainWindow::connect_events() {
    connect(txt_source_, &QLineEdit::textChanged, this, &MainWindow::update_exclusion_controls);
    connect(cm_start_, &QPushButton::clicked, this, &MainWindow::start_clicked);
    connect(timer1_, &QTimer::timeout, this,
            [this] { tick(*timer1_, &core::ReplaceJob::tick_timer1); });
    connect(timer2_, &QTimer::timeout, this,
            [this] { tick(*timer2_, &core::ReplaceJob::tick_timer2); });
    connect(cm_choosefile_, &QPushButton::clicked, this,
            [this] { open_file_chooser(FileChooser::kTargetMode); });
    connect(cm_except_, &QPushButton::clicked, this,
            [this] { open_file_chooser(FileChooser::kExclusionMode); });
    connect(cm_change_, &QPushButton::clicked, this, &MainWindow::open_content_chooser);
    connect(cm_choosedir_, &QPushButton::clicked, this, &MainWindow::open_dir_chooser);
    connect(img_about_, &ClickablePicture::clicked, this, &MainWindow::open_about_box);
    // On the window itself: the input frames, where the focus would be, are disabled while
    // a job runs.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &MainWindow::stop_job);
    status_log_->set_stop([this] { return job_.running() || undo_.running(); },
                          [this] { stop_job(); });
    status_log_->set_preview([this] { open_preview(); });
    status_log_->set_undo([this] { undo_last_job(); });
    undo_timer_ = make_timer(this, "undo_timer");
    connect(undo_timer_, &QTimer::timeout, this, &MainWindow::tick_undo);
    auto* undo = new QShortcut(QKeySequence::Undo, this);
    connect(undo, &QShortcut::activated, this, &MainWindow::undo_last_job);
    for (QLineEdit* field : {txt_source_, txt_except_, txt_change_}) {
        field->installEventFilter(this);
        connect(field, &QLineEdit::textEdited, this, [this] { undo_armed_ = false; });
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && undo_armed_ &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Undo)) {
        undo_last_job();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::undo_last_job() {
    if (job_.running() || undo_.running()) {
        return;
    }
    undo_armed_ = false;
    undo_.start(core::Journal::default_root());
    set_running(*undo_timer_, undo_.running());
    if (close_when_idle_ && !undo_.running()) {
        close();
    }
}

void MainWindow::tick_undo() {
    const int interval = undo_.tick() ? 0 : kWaitingTickMs;
    if (undo_timer_->interval() != interval) {
        undo_timer_->setInterval(interval);
    }
    set_running(*undo_timer_, undo_.running());
    if (close_when_idle_ && !undo_.running()) {
        close();
    }
}

HandBack MainWindow::hand_back() {
    return HandBack(this, txt_source_, txt_except_, txt_change_);
}

void MainWindow::show_chooser(QWidget* chooser) {
    chooser_ = chooser;
    // Kept above this window, though not its child: a child would be disabled together with
    // this window. Blocking this window for the window system too keeps a click on it from
    // taking the activation, and so the keys, away from the chooser; show() still returns at
    // once.
    chooser->winId();
    chooser->windowHandle()->setTransientParent(windowHandle());
    chooser->setWindowModality(Qt::WindowModal);
    chooser->show();
}

FileChooser* MainWindow::show_file_chooser(QStringView mode) {
    auto* chooser = new FileChooser(hand_back());
    show_chooser(chooser);
    chooser->setWindowTitle(mode.toString());
    return chooser;
}

void MainWindow::open_file_chooser(QStringView mode) {
    show_file_chooser(mode);
    setEnabled(false);
}

void MainWindow::open_content_chooser() {
    FileChooser* chooser = show_file_chooser(FileChooser::kContentMode);
    // Only a typed folder path with one more character after it names a folder here; the
    // items that the choosers write do not, and then the chooser stays where it started.
    chooser->open_folder(without_last_character(txt_source_->text()));
    setEnabled(false);
}

void MainWindow::open_dir_chooser() {
    show_chooser(new DirChooser(hand_back()));
    setEnabled(false);
}

void MainWindow::open_about_box() {
    if (about_) {
        about_->raise();
    } else {
        about_ = new AboutBox();
        about_->show();
    }
    about_->activateWindow();
}

core::JobInputs MainWindow::inputs() const {
    core::JobInputs inputs;
    inputs.source = txt_source_->text().toStdString();
    inputs.except = txt_except_->text().toStdString();
    inputs.change = txt_change_->text().toStdString();
    inputs.options.whole_word = chk_qzpp_->isChecked();
    inputs.options.match_case = chk_dxx_->isChecked();
    return inputs;
}

void MainWindow::start_clicked() {
    if (QGuiApplication::keyboardModifiers().testFlag(Qt::ShiftModifier)) {
        open_preview();
    } else {
        start_job(inputs());
    }
}

void MainWindow::start_job(const core::JobInputs& inputs) {
    job_.start(inputs);
    sync_timers();
    if (job_.running()) {
        recall_->remember({QString::fromStdString(inputs.source),
                           QString::fromStdString(inputs.except),
                           QString::fromStdString(inputs.change)});
    }
}

// The preview keeps the inputs it was opened with, so that 开始替换 starts the job it showed.
void MainWindow::open_preview() {
    if (job_.running() || preview_) {
        return;
    }
    const core::JobInputs shown = inputs();
    auto* dialog = new PreviewDialog(shown, clock_, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, shown] { start_job(shown); });
    preview_ = dialog;
    dialog->open();
}

void MainWindow::stop_job() {
    undo_.request_stop();
    job_.request_stop();
    sync_timers();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    stop_job();
    close_when_idle_ = job_.running() || undo_.running();
    if (close_when_idle_) {
        event->ignore();  // the last tick of the job closes the window
        return;
    }
    QWidget::closeEvent(event);
}

void MainWindow::tick(QTimer& timer, bool (core::ReplaceJob::*tick_function)()) {
    const int interval = (job_.*tick_function)() ? 0 : kWaitingTickMs;
    if (timer.interval() != interval) {
        timer.setInterval(interval);
    }
    sync_timers();
    if (close_when_idle_ && !job_.running()) {
        close();
    }
}

void MainWindow::sync_timers() {
    set_running(*timer1_, job_.timer1_on());
    set_running(*timer2_, job_.timer2_on());
}

void MainWindow::update_exclusion_controls(const QString& source_text) {
    const bool open = exclusion_gate_open(source_text);
    txt_except_->setEnabled(open);
    cm_except_->setEnabled(open);
}

void MainWindow::add_status_line(const std::string& line) {
    status_log_->add(QString::fromStdString(line));
}

void MainWindow::add_warning_line(const std::string& line) {
    status_log_->add(QString::fromStdString(line), StatusLog::kWarning);
}

void MainWindow::clear_status_log() {
    status_log_->clear();
}

// A failure's line and its reason line stand out from the lines of the files that went well.
void MainWindow::target_finished(const std::string&, Outcome outcome) {
    if (outcome == Outcome::failed) {
        status_log_->mark_last(2, StatusLog::kFailure);
    }
}

void MainWindow::preparation_failed() {
    status_log_->mark_last(2, StatusLog::kFailure);
}

void MainWindow::summary_added(const core::messages::Tally& tally) {
    undo_armed_ = true;
    if (tally.failed != 0) {
        status_log_->mark_last(1, StatusLog::kFailure);
    }
}

void MainWindow::add_file_info_line(const std::string& line) {
    auto* item = new QListWidgetItem(QString::fromStdString(line), ls_fileinfo_);
    item->setToolTip(item->text());
}

void MainWindow::clear_file_info() {
    ls_fileinfo_->clear();
}

void MainWindow::set_progress_max(double max) {
    progressbar_->set_maximum(max);
}

void MainWindow::set_progress_value(double value) {
    progressbar_->set_progress(value);
    progress_paint_->changed();
}

void MainWindow::set_inputs_locked(bool locked) {
    fm_change_->setEnabled(!locked);
    fm_set_->setEnabled(!locked);
}

void MainWindow::clear_except_field() {
    txt_except_->clear();
}

void MainWindow::focus_source_field() {
    txt_source_->setFocus(Qt::OtherFocusReason);
}

void MainWindow::show_input_check(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, u"Wendrel"_s, QString::fromStdString(text),
                    QMessageBox::Ok, this);
    box.exec();
}

void MainWindow::refresh() {
    status_log_->flush();
    progress_paint_->flush();
    repaint();
}

}  // namespace wendrel::ui
