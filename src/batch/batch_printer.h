#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "core/job_observer.h"

namespace wendrel::batch {

/// Prints what the window would show, line by line, and keeps the tally the exit status needs.
class BatchPrinter final : public core::JobObserver {
  public:
    /// Job lines go to `out`, warnings about the rules file to `errors`; failure lines with
    /// their reasons go to `errors` as well when `echo_failures` (not when both streams reach
    /// the same file). The progress bar goes to `progress` (null unless a terminal).
    BatchPrinter(std::FILE* out, std::FILE* errors, bool echo_failures, std::FILE* progress,
                 bool quiet, bool dry_run);

    void add_status_line(const std::string& line) override;
    void clear_status_log() override {}
    void add_file_info_line(const std::string& line) override;
    void clear_file_info() override {}
    void set_progress_max(double max) override { progress_max_ = max; }
    void set_progress_value(double value) override;
    void set_inputs_locked(bool) override {}
    void clear_except_field() override {}
    void focus_source_field() override {}
    void show_input_check(const std::string& text) override;
    void add_warning_line(const std::string& line) override;
    void entry_applied(const std::string& path, std::size_t entry,
                       std::size_t replacements) override;
    void preview_ready(const std::string& path, std::string_view before, std::string_view after,
                       std::size_t replacements) override;
    void target_finished(const std::string& path, Outcome outcome) override;
    /// A previewed dry run prints each change as a unified diff to `to`, after the file's line;
    /// `colour` adds terminal colours.
    void print_diffs(std::FILE* to, bool colour);
    void preparation_failed() override { ++failures_; }

    bool input_check_shown() const { return input_check_shown_; }
    bool any_failure() const { return failures_ != 0; }
    std::size_t warnings() const { return warnings_; }
    /// Clears the progress bar line, if one was drawn.
    void finish_progress();

  private:
    /// Writes `text` to `to`, unless a reader of `to` went away.
    void write(std::FILE* to, std::string_view text);
    void print(std::FILE* to, const std::string& line);

    std::FILE* out_;
    std::FILE* errors_;
    bool echo_failures_;
    bool out_closed_ = false;  // a reader went away: the job goes on, unprinted
    std::FILE* diff_out_ = nullptr;
    bool diff_closed_ = false;
    bool diff_colour_ = false;
    std::string pending_diff_;  // of the loaded target, printed after its line
    std::FILE* progress_;       // null when standard error is not a terminal
    bool quiet_;
    bool dry_run_;
    bool input_check_shown_ = false;
    std::size_t failures_ = 0;
    std::size_t warnings_ = 0;
    double progress_max_ = 100;
    int drawn_percent_ = -1;
    std::vector<std::size_t> counts_;  // replacements per entry in the current target
};

}  // namespace wendrel::batch
