#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/job_observer.h"
#include "core/messages.h"

namespace wendrel::test {

/// Stands in for the window: keeps what it would show (reasons, warnings and the summary kept
/// out of the job's own lines), and logs every call in order as text ("status <line>", "lock"...).
class RecordingObserver final : public core::JobObserver {
  public:
    void add_status_line(const std::string& line) override {
        const bool reason = line.starts_with(core::messages::kReasonPrefix);
        append(reason ? "reason " : "status ", reason ? reasons : status, line);
    }
    void add_warning_line(const std::string& line) override { append("warning ", warnings, line); }
    void summary_added(const core::messages::Tally& counted) override {
        summary = status.back();
        status.pop_back();
        tally = counted;
    }
    void clear_status_log() override { clear("clear status", status); }
    void add_file_info_line(const std::string& line) override { append("info ", info, line); }
    void clear_file_info() override { clear("clear info", info); }
    void set_progress_max(double max) override {
        calls.push_back("max " + ::testing::PrintToString(max));
    }
    void set_progress_value(double value) override {
        calls.push_back("value " + ::testing::PrintToString(value));
        values.push_back(value);
    }
    void set_inputs_locked(bool lock) override { calls.push_back(lock ? "lock" : "unlock"); }
    void clear_except_field() override { calls.push_back("clear except"); }
    void focus_source_field() override { calls.push_back("focus"); }
    void show_input_check(const std::string& text) override {
        calls.push_back("input check " + text);
    }
    void preparation_failed() override { calls.push_back("preparation failed"); }
    void preview_ready(const std::string& path, std::string_view before, std::string_view after,
                       std::size_t replacements) override {
        previews[path] = {std::string(before), std::string(after), replacements};
    }
    std::vector<std::string> calls;
    std::vector<std::string> status, reasons, warnings;
    std::string summary;
    core::messages::Tally tally;
    std::vector<std::string> info;  // ls_fileinfo
    std::vector<double> values;     // every progress value set, in order
    struct Preview {
        std::string before, after;
        std::size_t replacements;
    };
    std::map<std::string, Preview> previews;

  private:
    void append(const std::string& call, std::vector<std::string>& list, const std::string& line) {
        calls.push_back(call + line);
        list.push_back(line);
    }
    void clear(const std::string& call, std::vector<std::string>& list) {
        calls.push_back(call);
        list.clear();
    }
};

}  // namespace wendrel::test
