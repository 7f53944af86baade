#pragma once

#include <cstddef>
#include <string>

#include "core/job_observer.h"

namespace wendrel::bench {

/// Shows nothing and counts what the job reports, so that a timed run in which anything went
/// otherwise than planned (a match, a failure, a refused start) is no figure.
class CountingObserver final : public core::JobObserver {
  public:
    void add_status_line(const std::string&) override {}
    void clear_status_log() override {}
    void add_file_info_line(const std::string&) override {}
    void clear_file_info() override {}
    void set_progress_max(double) override {}
    void set_progress_value(double) override {}
    void set_inputs_locked(bool) override {}
    void clear_except_field() override {}
    void focus_source_field() override {}
    void show_input_check(const std::string&) override { ++input_checks; }
    void summary_added(const core::messages::Tally& tally) override {
        replacements = tally.replacements;
    }
    void target_finished(const std::string&, Outcome outcome) override {
        const bool done = outcome == Outcome::changed || outcome == Outcome::unchanged;
        ++(done ? completed : not_completed);
    }

    std::size_t input_checks = 0;
    std::size_t replacements = 0;
    std::size_t completed = 0;
    std::size_t not_completed = 0;
};

}  // namespace wendrel::bench
