#include "recording_observer.h"

#include <cstdio>

namespace wendrel::test {

namespace {

std::string number_text(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

}  // namespace

void RecordingObserver::add_status_line(const std::string& line) {
    calls.push_back("status " + line);
    status.push_back(line);
}

void RecordingObserver::clear_status_log() {
    calls.push_back("clear status");
    status.clear();
}

void RecordingObserver::add_file_info_line(const std::string& line) {
    calls.push_back("info " + line);
    info.push_back(line);
}

void RecordingObserver::clear_file_info() {
    calls.push_back("clear info");
    info.clear();
}

void RecordingObserver::set_progress_max(double new_max) {
    calls.push_back("max " + number_text(new_max));
    max = new_max;
}

void RecordingObserver::set_progress_value(double new_value) {
    calls.push_back("value " + number_text(new_value));
    values.push_back(new_value);
    value_above_max = value_above_max || new_value > max;
    value = new_value;
}

void RecordingObserver::set_inputs_locked(bool new_locked) {
    calls.push_back(new_locked ? "lock" : "unlock");
    locked = new_locked;
}

void RecordingObserver::clear_except_field() {
    calls.push_back("clear except");
}

void RecordingObserver::focus_source_field() {
    calls.push_back("focus");
}

void RecordingObserver::show_input_check(const std::string& text) {
    calls.push_back("input check " + text);
}

void RecordingObserver::entry_applied(const std::string& path, std::size_t entry,
                                      std::size_t replacements) {
    entries.push_back(path + " " + std::to_string(entry) + " " + std::to_string(replacements));
}

void RecordingObserver::target_finished(const std::string& path, Outcome outcome) {
    static const char* const kNames[] = {"completed", "skipped", "failed"};
    outcomes.push_back(path + " " + kNames[static_cast<int>(outcome)]);
}

}  // namespace wendrel::test
