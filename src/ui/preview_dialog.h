#pragma once

#include <QDialog>
#include <QString>
#include <string>
#include <utility>
#include <vector>

#include "core/job_observer.h"
#include "core/replace_job.h"
#include "core/unified_diff.h"

class QLabel;
class QPushButton;
class QTextEdit;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace wendrel::ui {

/// fm_preview: runs a job's inputs as a dry run, one tick per turn of the event loop, and lists
/// what the job would do to each target, with the chosen file's changes as a unified diff.
/// "开始替换" accepts the dialog (the owner then starts the job itself); closing it stops the run.
class PreviewDialog : public QDialog, private core::JobObserver {
    Q_OBJECT

  public:
    /// The dry run of `inputs` starts at once.
    PreviewDialog(const core::JobInputs& inputs, core::ReplaceJob::Clock clock, QWidget* parent);
    ~PreviewDialog() override;

    void done(int result) override;

  private:
    using Diff = std::vector<std::pair<core::UnifiedDiff::Piece, QString>>;

    void add_status_line(const std::string& line) override;
    void clear_status_log() override {}
    void add_file_info_line(const std::string&) override {}
    void clear_file_info() override {}
    void set_progress_max(double) override {}
    void set_progress_value(double) override {}
    void set_inputs_locked(bool) override {}
    void clear_except_field() override {}
    void focus_source_field() override {}
    void show_input_check(const std::string& text) override;
    void preview_ready(const std::string& path, std::string_view before, std::string_view after,
                       std::size_t replacements) override;
    void target_finished(const std::string& path, Outcome outcome) override;

    void tick();
    void select_first_change();
    void show_diff(const QTreeWidgetItem* item);

    core::ReplaceJob job_;
    QTimer* timer_;
    QTreeWidget* targets_;
    QTextEdit* diff_view_;
    QLabel* status_;
    QPushButton* cm_replace_;
    QPushButton* cm_close_;

    std::vector<Diff> diffs_;  // of the rows that have one; a row holds its index
    Diff pending_diff_;        // of the loaded target, until its line
    std::size_t pending_replacements_ = 0;
    QString last_reason_;  // the reason line under the last failure line
};

}  // namespace wendrel::ui
