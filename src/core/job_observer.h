#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "messages.h"

namespace wendrel::core {

/// What a running job asks of the window (or of any other front end).
/// Every call is made on the thread that drives the job; none may throw.
class JobObserver {
  public:
    virtual ~JobObserver() = default;

    /// Appends one line (message plus time text, UTF-8) to the status log.
    virtual void add_status_line(const std::string& line) = 0;
    virtual void clear_status_log() = 0;
    virtual void add_file_info_line(const std::string& line) = 0;
    virtual void clear_file_info() = 0;
    virtual void set_progress_max(double max) = 0;
    /// Only called with values the job has accepted (never above the maximum).
    virtual void set_progress_value(double value) = 0;
    /// Locks (disables) or unlocks the input frames: fields, buttons, options.
    virtual void set_inputs_locked(bool locked) = 0;
    virtual void clear_except_field() = 0;
    virtual void focus_source_field() = 0;
    /// The start was refused because a required field is empty; `text` says so.
    virtual void show_input_check(const std::string& text) = 0;
    /// A line about the replacement-content file that looks unintended (message plus time);
    /// the window shows it in the status log like any other line.
    virtual void add_warning_line(const std::string& line) { add_status_line(line); }
    /// Repaint now: the start pass does not return to the event loop for a while.
    virtual void refresh() {}

    // For front ends that report more than the window shows (the batch program).
    /// A target rewritten (a dry run: to be), completed without a change, skipped, or failed.
    enum class Outcome { changed, unchanged, skipped, failed };
    /// One entry was applied to the loaded target and made `replacements` replacements.
    virtual void entry_applied(const std::string& /*path*/, std::size_t /*entry*/,
                               std::size_t /*replacements*/) {}
    /// A dry run asked for a preview loaded `path`: its content as read and as the job's entries
    /// left it. Called before the target's line.
    virtual void preview_ready(const std::string& /*path*/, std::string_view /*before*/,
                               std::string_view /*after*/, std::size_t /*replacements*/) {}
    /// A target has been dealt with; its status line has been added.
    virtual void target_finished(const std::string& /*path*/, Outcome /*outcome*/) {}
    /// The job's closing summary line (counting `tally`) has been added.
    virtual void summary_added(const messages::Tally& /*tally*/) {}
    /// Part of the start pass failed (the replacement-content file could not be read, a
    /// folder item could not be listed, or the pass itself failed); its failure line has been
    /// added.
    virtual void preparation_failed() {}
};

}  // namespace wendrel::core
