#pragma once

#include <QPointer>
#include <QStringView>
#include <QWidget>
#include <string>

#include "core/job_observer.h"
#include "core/replace_job.h"
#include "core/undo_job.h"
#include "ui/hand_back.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;

namespace wendrel::ui {

class ClickablePicture;
class FieldRecall;
class FileChooser;
class PaintThrottle;
class ScaledProgressBar;
class StatusLog;

/// fm_wendrel, the window in which a job is described, started and watched. It turns the
/// window's events into calls on the job and the job's reports into changes of its controls;
/// everything a job decides is the job's.
class MainWindow : public QWidget, private core::JobObserver {
    Q_OBJECT

  public:
    using Clock = core::ReplaceJob::Clock;

    /// Status lines carry the local time of day.
    explicit MainWindow(QWidget* parent = nullptr);
    /// Status lines carry whatever `clock` returns.
    explicit MainWindow(Clock clock, QWidget* parent = nullptr);
    ~MainWindow() override;

  protected:
    /// Closing the window during a job stops the job, and the window closes once the job has
    /// ended, so that the program ends with no file half-written; events are still handled
    /// while the write-backs already queued end.
    void closeEvent(QCloseEvent* event) override;

  private:
    void add_status_line(const std::string& line) override;
    void clear_status_log() override;
    void add_file_info_line(const std::string& line) override;
    void clear_file_info() override;
    void set_progress_max(double max) override;
    void set_progress_value(double value) override;
    void set_inputs_locked(bool locked) override;
    void clear_except_field() override;
    void focus_source_field() override;
    void show_input_check(const std::string& text) override;
    void refresh() override;
    void add_warning_line(const std::string& line) override;
    void target_finished(const std::string& path, Outcome outcome) override;
    void preparation_failed() override;
    void summary_added(const core::messages::Tally& tally) override;

    void build_window();
    void build_change_frame();
    void build_set_frame();
    void build_fileinfo_frame();
    void set_tab_order();
    void connect_events();

    core::JobInputs inputs() const;
    /// A click on 开始！ starts the job; with Shift held it opens its preview instead.
    void start_clicked();
    void start_job(const core::JobInputs& inputs);
    void open_preview();
    void stop_job();
    /// Takes the last job back (or the last undo), unless a job or an undo is running.
    void undo_last_job();
    void tick_undo();
    bool eventFilter(QObject* watched, QEvent* event) override;
    void tick(QTimer& timer, bool (core::ReplaceJob::*tick_function)());
    /// Lets each timer run exactly while the job wants it.
    void sync_timers();
    void update_exclusion_controls(const QString& source_text);

    HandBack hand_back();
    void show_chooser(QWidget* chooser);
    FileChooser* show_file_chooser(QStringView mode);
    void open_file_chooser(QStringView mode);
    void open_content_chooser();
    void open_dir_chooser();
    void open_about_box();

    Clock clock_;  // of the status lines, the preview's too
    core::ReplaceJob job_;
    core::UndoJob undo_;
    // Right after a job, Ctrl+Z in a field takes the job back rather than the field's typing;
    // once the user types again, it is the field's.
    bool undo_armed_ = false;

    ScaledProgressBar* progressbar_ = nullptr;
    QListWidget* ls_status_ = nullptr;
    StatusLog* status_log_ = nullptr;
    PaintThrottle* progress_paint_ = nullptr;
    QGroupBox* fm_change_ = nullptr;
    QPushButton* cm_change_ = nullptr;
    QLineEdit* txt_change_ = nullptr;
    QPushButton* cm_start_ = nullptr;
    QPushButton* cm_except_ = nullptr;
    QLineEdit* txt_except_ = nullptr;
    QPushButton* cm_choosefile_ = nullptr;
    QPushButton* cm_choosedir_ = nullptr;
    QLineEdit* txt_source_ = nullptr;
    ClickablePicture* img_about_ = nullptr;
    QGroupBox* fm_set_ = nullptr;
    QCheckBox* chk_qzpp_ = nullptr;
    QCheckBox* chk_dxx_ = nullptr;
    QGroupBox* fm_fileinfo_ = nullptr;
    QTimer* timer2_ = nullptr;
    QTimer* timer1_ = nullptr;
    QTimer* undo_timer_ = nullptr;
    QListWidget* ls_fileinfo_ = nullptr;
    FieldRecall* recall_ = nullptr;

    // At most one of each is open; a chooser keeps this window disabled while it is.
    QPointer<QWidget> chooser_;
    QPointer<QWidget> about_;
    bool close_when_idle_ = false;  // a close came while the job's write-backs were ending
    QPointer<QWidget> preview_;
};

}  // namespace wendrel::ui
