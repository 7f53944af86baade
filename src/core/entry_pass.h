#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "entry.h"
#include "match_options.h"
#include "spliced_text.h"

namespace wendrel::core {

/// What plan_stream() found out about a source.
struct StreamPlan {
    /// Replacements made; empty when the pass must rewrite the text in memory instead.
    std::optional<std::size_t> count;
    /// The result as runs of the source and of the replacement (when `count` is set).
    std::vector<Splice> runs;
    /// Whether the result differs from the source.
    bool changes = false;
};

/// Applies one entry to a file's content in a single left-to-right scan.
///
/// The scan works on the content framed by one virtual space at each end. Candidate starts
/// run from the first content byte up to a last start fixed when the pass begins (content
/// length minus find length, counted from the first byte); after a replacement the scan goes
/// on one byte after the start of the inserted text, so it looks inside the replacement.
/// A candidate needs a byte after it (the closing frame space counts, so a match always lies
/// wholly inside the content), and with whole-word matching the bytes on either side must not
/// be ASCII letters. An empty find text never matches.
///
/// Runs in time linear in the content plus the bytes inserted: the untouched part is copied
/// in bulk and the next candidate is found with a substring search.
class EntryPass {
  public:
    /// Rewrites `text` in place and returns the number of replacements made.
    std::size_t apply(std::string& text, const Entry& entry, MatchOptions options);

    /// The same pass without rewriting anything: gives the number of replacements and sets
    /// `runs` to the result as runs of `text` and of the replacement (SplicedText's runs).
    /// Gives nothing, and leaves `runs` unspecified, when the scan would have to look into
    /// a replacement it has inserted (a candidate starting inside one matched), or when
    /// matches are so close together that the runs would outweigh a copy; apply() handles
    /// those.
    std::optional<std::size_t> plan(const std::string& text, const Entry& entry,
                                    MatchOptions options, std::vector<Splice>& runs);

    /// Like read(2): bytes placed, 0 at the end, or a negative errno.
    using Reader = std::function<long(char* buffer, std::size_t size)>;
    /// plan() over a source of `size` bytes pulled from `read`, holding only about `window`
    /// bytes of it at a time. Gives 0 with `plan` filled in, or the errno of a failed read;
    /// EAGAIN when the source turned out shorter or longer than `size`.
    static int plan_stream(std::uint64_t size, const Reader& read, const Entry& entry,
                           MatchOptions options, StreamPlan& plan, std::size_t window = 1 << 20);

  private:
    std::string out_;  // reused between passes so that a job allocates its buffers once
};

}  // namespace wendrel::core
