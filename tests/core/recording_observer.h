#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/job_observer.h"

namespace wendrel::test {

/// Stands in for the window: keeps what the window would show and logs every call in order
/// ("status <line>", "clear status", "info <line>", "clear info", "max <n>", "value <n>",
/// "lock", "unlock", "clear except", "focus", "input check <text>"). Repaints are only counted.
class RecordingObserver final : public core::JobObserver {
  public:
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
    void refresh() override { ++refreshes; }
    void entry_applied(const std::string& path, std::size_t entry,
                       std::size_t replacements) override;
    void target_finished(const std::string& path, Outcome outcome) override;

    std::vector<std::string> calls;
    std::vector<std::string> status;  // ls_status
    std::vector<std::string> info;    // ls_fileinfo
    std::vector<double> values;       // every progress value set, in order
    double max = 0;
    double value = 0;
    bool locked = false;
    bool value_above_max = false;  // a value above the current maximum was shown
    int refreshes = 0;
    std::vector<std::string> entries;   // "<path> <entry index> <replacements>"
    std::vector<std::string> outcomes;  // "<path> completed|skipped|failed"
};

}  // namespace wendrel::test
