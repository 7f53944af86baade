#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "entry.h"
#include "entry_chain.h"
#include "entry_prefilter.h"
#include "match_options.h"
#include "text_encoding.h"

namespace wendrel::core {

/// A job's entries and how they match, shared by every file it rewrites.
struct JobRules {
    JobRules(std::vector<Entry> list, MatchOptions match)
        : entries(std::move(list)), options(match), prefilter(entries, options) {}

    const std::vector<Entry> entries;
    const MatchOptions options;
    const EntryPrefilter prefilter;
};

/// A file's new content as the file itself flowing through the job's entries while it is
/// copied (EntryChain): no job holds a file in memory.
struct FileRewrite {
    std::shared_ptr<const JobRules> rules;
    std::vector<bool> skip;  // the entries found unable to make a replacement in the file
    /// What the copy made, once the write-back has ended: the file is left as it was when
    /// nothing changed (`written` false), as when the entries put back what they took out.
    struct Made {
        ChainResult chain;
        bool written = false;
    };
    std::shared_ptr<Made> made = std::make_shared<Made>();
    /// What the entries are matched against: the file's bytes, or its text in UTF-8, of
    /// `text_size` bytes (the file's size, when it is its bytes).
    TextEncoding encoding = {};
    std::uint64_t text_size = 0;
};

/// A file's new content held in memory, written as it stands.
struct HeldText {
    std::string text;
};

/// A file's new content as a copy of another file: an undo puts a kept old file back.
struct FileCopy {
    std::string from;
};

/// What a write-back puts in place of a file.
using NewContent = std::variant<HeldText, FileRewrite, FileCopy>;

/// Bytes held, for budgeting memory.
inline std::size_t footprint(const NewContent& content) {
    if (const auto* held = std::get_if<HeldText>(&content)) {
        return held->text.size();
    }
    if (const auto* rewrite = std::get_if<FileRewrite>(&content)) {
        return rewrite->skip.size();
    }
    return std::get<FileCopy>(content).from.size();
}

}  // namespace wendrel::core
