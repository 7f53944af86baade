#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace wendrel::core {

/// The line changes between two texts, as the hunks of a unified diff. A line is its bytes up
/// to and with its '\n' (so "\r\n" and a missing final newline count); nothing is decoded.
class UnifiedDiff {
  public:
    static constexpr std::size_t kContext = 3;
    /// Beyond this many removed and added lines (between two lines that both texts hold once)
    /// the search gives up and reports that stretch as removed and added: a larger diff, still
    /// a correct one.
    static constexpr std::size_t kMaxEdits = 2000;

    struct Line {
        enum class Kind : char { context = ' ', removed = '-', added = '+' };
        Kind kind;
        std::string text;  // with its line end, if it has one
    };
    struct Hunk {
        std::size_t old_start = 0, old_count = 0;  // 0-based first line, and lines
        std::size_t new_start = 0, new_count = 0;
        std::vector<Line> lines;
    };

    /// What each printed piece is, for a front end that colours them.
    enum class Piece { file_header, hunk_header, context, removed, added, no_newline };

    UnifiedDiff(std::string_view before, std::string_view after, std::size_t context = kContext);

    const std::vector<Hunk>& hunks() const { return hunks_; }
    bool empty() const { return hunks_.empty(); }

    /// Writes the diff as `patch` reads it, one line (with its '\n') per call of `out`:
    /// "--- a/PATH", "+++ b/PATH", then each hunk.
    void write(std::string_view path,
               const std::function<void(Piece, std::string_view)>& out) const;
    std::string text(std::string_view path) const;

  private:
    std::vector<Hunk> hunks_;
};

}  // namespace wendrel::core
