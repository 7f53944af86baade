#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "entry.h"
#include "match_options.h"
#include "spliced_text.h"

namespace wendrel::core {

/// What a pass over a streamed source found.
struct StreamResult {
    int error = 0;  // of a read or a write; EAGAIN when the source was not of its stated size
    std::size_t count = 0;  // replacements made
    bool changes = false;   // whether the result differs from the source
};

/// Applies one entry to a text: every occurrence of the find text (Scanner's rule), left to
/// right and without overlap, is replaced by the replacement exactly as written. The forms
/// differ only in where the bytes come from and where the result goes.
class EntryPass {
  public:
    /// Rewrites `text` in place and returns the number of replacements made. A result longer
    /// than `most` bytes is not made: like a string asked to pass its max_size(), it throws
    /// std::length_error, and `text` is left as it was.
    std::size_t apply(std::string& text, const Entry& entry, MatchOptions options,
                      std::size_t most = std::string::npos);

    /// The same pass without rewriting anything: gives the number of replacements and sets
    /// `runs` to the result as runs of `text` and of the replacement (SplicedText's runs).
    /// Gives nothing, and leaves `runs` unspecified, when matches are so close together that
    /// the runs would outweigh a copy; apply() handles those.
    std::optional<std::size_t> plan(const std::string& text, const Entry& entry,
                                    MatchOptions options, std::vector<Splice>& runs);

    /// Like read(2): bytes placed, 0 at the end, or a negative errno.
    using Reader = std::function<long(char* buffer, std::size_t size)>;
    /// Takes the next piece of the result; gives 0 or an errno.
    using Writer = std::function<int(std::string_view piece)>;
    /// The pass over a source of `size` bytes pulled from `read`, holding only about `window`
    /// bytes of it at a time (and of the result, when `write` is given). Stops at the first
    /// failed read or write.
    static StreamResult stream(std::uint64_t size, const Reader& read, const Entry& entry,
                               MatchOptions options, const Writer* write = nullptr,
                               std::size_t window = 1 << 20);

  private:
    std::string out_;  // reused between passes so that a job allocates its buffers once
};

}  // namespace wendrel::core
