#pragma once

#include <cstddef>
#include <string>
#include <variant>

#include "entry.h"
#include "match_options.h"
#include "spliced_text.h"

namespace wendrel::core {

/// A file's new content as the file itself with one entry applied while it is copied: a job
/// of one entry never holds a file in memory.
struct FileRewrite {
    Entry entry;
    MatchOptions options;
    std::size_t count = 0;  // replacements the copy must make, as found when the file was read
};

/// A file's new content as a copy of another file: an undo puts a kept old file back.
struct FileCopy {
    std::string from;
};

/// What a write-back puts in place of a file.
using NewContent = std::variant<SplicedText, FileRewrite, FileCopy>;

/// Bytes held, for budgeting memory.
inline std::size_t footprint(const NewContent& content) {
    if (const auto* text = std::get_if<SplicedText>(&content)) {
        return text->footprint();
    }
    if (const auto* rewrite = std::get_if<FileRewrite>(&content)) {
        return rewrite->entry.replace.size();
    }
    return std::get<FileCopy>(content).from.size();
}

}  // namespace wendrel::core
