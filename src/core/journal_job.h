#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace wendrel::core {

/// A file a job replaced, as its journal recorded it: where the old file is kept, and what the
/// job put in its place, so that an undo can tell whether the file is still the job's.
struct KeptFile {
    std::size_t slot = 0;  // the kept old file's name in the job's folder
    std::string path;      // the file replaced (symlinks resolved)
    std::uint64_t old_dev = 0, old_ino = 0, old_size = 0;
    std::uint64_t new_dev = 0, new_ino = 0, new_size = 0;
    std::int64_t new_mtime_sec = 0, new_mtime_nsec = 0;
    std::uint64_t new_hash = 0;
};

/// One job's journal as read back.
struct JournalJob {
    std::string id;
    std::int64_t started = 0;  // seconds since the epoch
    std::string undoes;        // an undo: the job it took back
    std::string undone_by;     // the undo that took this job back, if any
    /// Files put in place and kept; a file whose new version never took its name is left out.
    std::vector<KeptFile> files;
    bool ended = false;  // false: the job is still running, or was killed
};

}  // namespace wendrel::core

namespace wendrel::core::manifest {

// A manifest is lines of words separated by tabs; a path is the last word, with backslash,
// tab and line ends escaped.
inline constexpr std::string_view kFirstLine = "wendrel-journal 1";
std::string kept_line(const KeptFile& file);
bool parse_kept(std::string_view line, KeptFile& file);
/// A whole word as a decimal number; false (and `value` untouched) when it is not one.
bool parse_number(std::string_view word, std::size_t& value);
bool parse_number(std::string_view word, std::int64_t& value);

}  // namespace wendrel::core::manifest
