#pragma once

#include <sys/stat.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/entry.h"

namespace wendrel::core {
class ReplaceJob;
}

namespace wendrel::test {

/// Creates or truncates `path` and writes `content` (throws on failure).
void write_all(const std::string& path, std::string_view content);
/// The whole file, or nothing when it cannot be read.
std::optional<std::string> read_all(const std::string& path);
/// lstat(): true when anything (file, link, FIFO...) stands at `path`.
bool exists(const std::string& path);
/// stat() of `path` (links followed); throws when it fails.
struct stat stat_of(const std::string& path);
/// Sets access and modification time to `seconds` after the epoch.
void set_mtime(const std::string& path, long seconds);
bool same_mtime(const struct stat& a, const struct stat& b);

/// A replacement-content file with one "find|replace|" record per line, CR LF line ends.
std::string records_text(const std::vector<core::Entry>& entries);

struct TickCounts {
    int timer1 = 0;
    int timer2 = 0;
    bool both_on = false;  // the two timers were on at the same time
    bool runaway = false;  // the job did not end within the tick limit
};

/// Drives a started job like the window's timers do, one tick at a time, until it is idle.
TickCounts run_ticks(core::ReplaceJob& job, int limit = 100000);

/// Runs `work` on a thread. If it has not finished within a few seconds it is taken to be
/// blocked on the FIFO at `fifo`, which is then opened for writing to free it; returns false.
bool finishes_without_blocking(const std::string& fifo, const std::function<void()>& work);

/// Lines of `lines` that start with `prefix`.
std::vector<std::string> starting_with(const std::vector<std::string>& lines,
                                       std::string_view prefix);

}  // namespace wendrel::test
