#pragma once

#include <cstddef>
#include <string>

#include "entry.h"
#include "match_options.h"

namespace wendrel::core {

/// Applies one entry to a text held whole (a preview's): every occurrence of the find text
/// (Scanner's rule), left to right and without overlap, is replaced by the replacement exactly
/// as written. EntryChain is the same pass over a text that flows through.
class EntryPass {
  public:
    /// Rewrites `text` in place and returns the number of replacements made. A result longer
    /// than `most` bytes is not made: like a string asked to pass its max_size(), it throws
    /// std::length_error, and `text` is left as it was.
    std::size_t apply(std::string& text, const Entry& entry, MatchOptions options,
                      std::size_t most = std::string::npos);

  private:
    std::string out_;  // reused between passes so that a job allocates its buffers once
};

}  // namespace wendrel::core
