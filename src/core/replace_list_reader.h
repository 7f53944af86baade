#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "entry.h"
#include "text_encoding.h"

namespace wendrel::core {

class FileSystem;

/// Something in a replacement-content file that is read as written but looks unintended.
struct RulesWarning {
    enum class Kind {
        blank_line,               // a blank line became the start of the next find text
        text_after_record,        // text after a record's second "|" joined the next find text
        line_without_bar,         // a line with no "|" joined the next find text
        replacement_spans_lines,  // a record without its second "|" took in a line break
        empty_find,               // a find text that can never match
        repeated_find,            // the same find text as an earlier record (`earlier_line`)
        cut_short,                // the file ends inside a record, which is dropped
        no_record,                // not one complete record
    };
    Kind kind;
    std::size_t line = 0;  // 1-based line the record (or the blank line) starts on
    std::size_t earlier_line = 0;

    bool operator==(const RulesWarning&) const = default;
};

/// A replacement-content file's entries, in the forms its targets need.
struct RulesText {
    /// In the file's own bytes: matched against files whose encoding is not known.
    std::vector<Entry> entries;
    /// The same entries in UTF-8, when the file's encoding is known: matched against UTF-8
    /// files, and against the text of files read in another encoding.
    std::optional<std::vector<Entry>> text;
    TextEncoding encoding;
};

/// Reads the replacement-content file: records of find text, "|", replacement text, "|",
/// then a line break. A UTF-8 byte-order mark at the start is skipped. After the second "|" a
/// lone LF or a lone CR ends the record; anything else is taken as a two-byte line break
/// (CR LF) and skipped unexamined. A record cut short by the end of the file is dropped.
class ReplaceListReader {
  public:
    static std::vector<Entry> parse(std::string_view bytes,
                                    std::vector<RulesWarning>* warnings = nullptr);

    /// Reads and parses the file at `path` (a regular file, opened read-only: nothing is ever
    /// created), in `encoding` (an iconv name), or, when it is empty, in the encoding its
    /// content shows (EncodingSniffer). Records are found in the UTF-8 text, so that a byte of
    /// a multi-byte character is never taken for a "|". Returns 0 or the errno that made it
    /// unreadable; a UTF-16 file without a byte order mark, whose every other byte would be
    /// taken as a character, is refused (failure::kRulesFileUtf16).
    static int read(FileSystem& fs, const std::string& path, const std::string& encoding,
                    RulesText& rules, std::vector<RulesWarning>* warnings = nullptr);
};

}  // namespace wendrel::core
