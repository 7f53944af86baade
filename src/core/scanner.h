#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "match_options.h"

namespace wendrel::core {

/// Bytes [begin, begin + size) of a text, held at `data`; `ends_text` when the text ends there.
struct TextWindow {
    const char* data = nullptr;
    std::size_t begin = 0;
    std::size_t size = 0;
    bool ends_text = true;

    std::size_t end() const { return begin + size; }
};

/// The one place that decides where the next occurrence of a find text is. An occurrence is a
/// run of bytes equal to the find text (A to Z folded when case does not matter); with whole
/// words the bytes on either side must not be ASCII letters, the text's start and end counting
/// as non-letters. Every test reads the text as it stands, never a replacement: a pass asks
/// for the next occurrence after the end of the one it replaced, so occurrences never overlap
/// and the scan never looks inside inserted text. An empty find text never occurs.
///
/// The text may be seen through a window that moves on: a start is decided only when the
/// window holds the byte before it (unless it is the text's first) and the byte after the run.
class Scanner {
  public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    /// `find` must outlive the scanner.
    Scanner(std::string_view find, MatchOptions options);
    ~Scanner();
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    /// Text position of the first occurrence that starts at or after `from` and that the
    /// window can decide, or npos. The window must hold byte `from - 1` when `from` > 0.
    std::size_t next(const TextWindow& window, std::size_t from);
    /// The first start the window cannot decide: after npos from next(), every start before
    /// it has been ruled out. The window's end when it ends the text.
    std::size_t undecided(const TextWindow& window) const;
    std::size_t find_size() const { return find_.size(); }

  private:
    class Finder;

    std::string_view find_;
    bool whole_word_;
    std::unique_ptr<Finder> finder_;  // null for an empty find text
};

}  // namespace wendrel::core
