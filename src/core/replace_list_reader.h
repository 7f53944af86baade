#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "entry.h"

namespace wendrel::core {

class FileSystem;

/// Reads the replacement-content file: records of find text, "|", replacement text, "|",
/// then a line break. After the second "|" a lone LF ends the record; anything else is taken
/// as a two-byte line break (CR LF) and skipped unexamined. A record cut short by the end of
/// the file is dropped.
class ReplaceListReader {
  public:
    static std::vector<Entry> parse(std::string_view bytes);

    /// Reads and parses the file at `path` (a regular file, opened read-only: nothing is ever
    /// created). Returns 0 or the errno that made it unreadable.
    static int read(FileSystem& fs, const std::string& path, std::vector<Entry>& entries);
};

}  // namespace wendrel::core
