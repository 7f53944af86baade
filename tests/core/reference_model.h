#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/entry.h"
#include "core/match_options.h"

// Slow, literal versions of two rule sets of the job, naive enough to be checked by reading.
namespace wendrel::test {

struct ModelPassResult {
    std::string content;
    std::size_t replacements = 0;
};

/// One entry pass: each position of the text as it stood before the pass is tried in turn,
/// and a replaced occurrence is stepped over whole.
ModelPassResult model_entry_pass(const std::string& content, const core::Entry& entry,
                                 core::MatchOptions options);

/// The replacement-content file read one character at a time.
std::vector<core::Entry> model_read_records(const std::string& bytes);

}  // namespace wendrel::test
