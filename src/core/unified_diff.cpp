#include "unified_diff.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>
#include <utility>

namespace wendrel::core {
namespace {

using Lines = std::vector<std::string_view>;

Lines split_lines(std::string_view text) {
    Lines lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const auto length = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back(text.substr(0, length));
        text.remove_prefix(length);
    }
    return lines;
}

// Old lines [old_begin, old_end) give way to new lines [new_begin, new_end).
struct Change {
    std::size_t old_begin, old_end, new_begin, new_end;
};

// Myers' greedy search for a shortest edit script from `a` to `b` (lines as numbers, equal
// lines equal numbers), as blocks of changes in order, positions counted from `at_a` and
// `at_b`; nothing when it needs more than kMaxEdits edits.
std::optional<std::vector<Change>> shortest_edits(std::span<const int> a, std::span<const int> b,
                                                  std::size_t at_a, std::size_t at_b) {
    using Index = std::ptrdiff_t;
    const auto n = static_cast<Index>(a.size()), m = static_cast<Index>(b.size());
    const Index limit = std::min<Index>(n + m, UnifiedDiff::kMaxEdits);
    // trace[d][k + d]: how far along diagonal k (x - y) the search got with d edits.
    std::vector<std::vector<Index>> trace;
    std::vector<Index> v(static_cast<std::size_t>(2 * limit + 3), 0);
    const Index o = limit + 1;
    bool reached = false;
    for (Index d = 0; d <= limit && !reached; ++d) {
        for (Index k = -d; k <= d; k += 2) {
            Index x = (k == -d || (k != d && v[o + k - 1] < v[o + k + 1])) ? v[o + k + 1]
                                                                           : v[o + k - 1] + 1;
            Index y = x - k;
            while (x < n && y < m && a[x] == b[y]) {
                ++x;
                ++y;
            }
            v[o + k] = x;
            reached = reached || (x >= n && y >= m);
        }
        trace.emplace_back(v.begin() + (o - d), v.begin() + (o + d + 1));
    }
    if (!reached) {
        return std::nullopt;
    }
    // Back from the end, one edit per step, merging neighbouring edits into blocks.
    std::vector<Change> changes;
    Index x = n, y = m;
    for (auto d = static_cast<Index>(trace.size()) - 1; d > 0; --d) {
        const std::vector<Index>& before = trace[static_cast<std::size_t>(d - 1)];
        const auto reach = [&](Index k) { return before[static_cast<std::size_t>(k + d - 1)]; };
        const Index k = x - y;
        const bool added = k == -d || (k != d && reach(k - 1) < reach(k + 1));
        const Index from_x = reach(added ? k + 1 : k - 1);
        const Index from_y = from_x - (added ? k + 1 : k - 1);
        const auto ox = static_cast<std::size_t>(from_x) + at_a;
        const auto oy = static_cast<std::size_t>(from_y) + at_b;
        const Change edit{ox, added ? ox : ox + 1, oy, added ? oy + 1 : oy};
        if (!changes.empty() && changes.back().old_begin == edit.old_end &&
            changes.back().new_begin == edit.new_end) {
            changes.back().old_begin = edit.old_begin;
            changes.back().new_begin = edit.new_begin;
        } else {
            changes.push_back(edit);
        }
        x = from_x;
        y = from_y;
    }
    std::reverse(changes.begin(), changes.end());
    return changes;
}

constexpr std::size_t kNone = SIZE_MAX, kMany = SIZE_MAX - 1;  // no line, several lines

using Anchor = std::pair<std::size_t, std::size_t>;  // a line of `a` equal to a line of `b`

// The lines that occur once in `a` and once in `b` (lines as numbers below `count`), as the
// longest chain of them in the same order in both (patience sorting).
std::vector<Anchor> unique_anchors(std::span<const int> a, std::span<const int> b,
                                   std::size_t count) {
    const auto positions = [count](std::span<const int> lines) {
        std::vector<std::size_t> at(count, kNone);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            std::size_t& slot = at[static_cast<std::size_t>(lines[i])];
            slot = slot == kNone ? i : kMany;
        }
        return at;
    };
    const std::vector<std::size_t> in_a = positions(a), in_b = positions(b);
    std::vector<Anchor> pairs;  // in the order of `b`
    for (std::size_t j = 0; j < b.size(); ++j) {
        const auto line = static_cast<std::size_t>(b[j]);
        if (in_a[line] < kMany && in_b[line] == j) {
            pairs.emplace_back(in_a[line], j);
        }
    }
    // tails[n]: the pair ending the chain of n + 1 pairs with the lowest line of `a` so far.
    std::vector<std::size_t> tails, before(pairs.size(), kNone);
    for (std::size_t p = 0; p < pairs.size(); ++p) {
        const auto pile = std::ranges::lower_bound(
            tails, pairs[p].first, {}, [&pairs](std::size_t t) { return pairs[t].first; });
        if (pile != tails.begin()) {
            before[p] = *(pile - 1);
        }
        if (pile == tails.end()) {
            tails.push_back(p);
        } else {
            *pile = p;
        }
    }
    std::vector<Anchor> chain;
    for (std::size_t p = tails.empty() ? kNone : tails.back(); p != kNone; p = before[p]) {
        chain.push_back(pairs[p]);
    }
    std::reverse(chain.begin(), chain.end());
    return chain;
}

std::vector<Change> changes_between(const Lines& a, const Lines& b) {
    std::size_t prefix = 0;
    while (prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix]) {
        ++prefix;
    }
    std::size_t suffix = 0;
    while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
           a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix]) {
        ++suffix;
    }
    const Change middle{prefix, a.size() - suffix, prefix, b.size() - suffix};
    if (middle.old_begin == middle.old_end && middle.new_begin == middle.new_end) {
        return {};
    }
    // Numbers compare faster than long lines.
    std::unordered_map<std::string_view, int> numbers;
    numbers.reserve(middle.old_end - middle.old_begin + middle.new_end - middle.new_begin);
    const auto number = [&numbers](const Lines& lines, std::size_t begin, std::size_t end) {
        std::vector<int> out;
        out.reserve(end - begin);
        for (std::size_t i = begin; i < end; ++i) {
            out.push_back(
                numbers.try_emplace(lines[i], static_cast<int>(numbers.size())).first->second);
        }
        return out;
    };
    const std::vector<int> old_numbers = number(a, middle.old_begin, middle.old_end);
    const std::vector<int> new_numbers = number(b, middle.new_begin, middle.new_end);
    const std::span<const int> old_span = old_numbers, new_span = new_numbers;
    // A short middle is searched whole, for the fewest changes. A long one is cut at the lines
    // both texts hold once and in the same order, and each stretch searched on its own: a long
    // file with many small changes then stays far from the cap.
    std::vector<Anchor> anchors;
    if (old_numbers.size() + new_numbers.size() > UnifiedDiff::kMaxEdits) {
        anchors = unique_anchors(old_span, new_span, numbers.size());
    }
    anchors.push_back({old_numbers.size(), new_numbers.size()});
    std::vector<Change> changes;
    std::size_t x = 0, y = 0;
    for (const auto& [anchor_x, anchor_y] : anchors) {
        const auto old_part = old_span.subspan(x, anchor_x - x);
        const auto new_part = new_span.subspan(y, anchor_y - y);
        const Change whole{prefix + x, prefix + anchor_x, prefix + y, prefix + anchor_y};
        const auto found = shortest_edits(old_part, new_part, whole.old_begin, whole.new_begin)
                               .value_or(std::vector<Change>{whole});
        changes.insert(changes.end(), found.begin(), found.end());
        x = anchor_x + 1;
        y = anchor_y + 1;
    }
    return changes;
}

void add_lines(UnifiedDiff::Hunk& hunk, UnifiedDiff::Line::Kind kind, const Lines& from,
               std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
        hunk.lines.push_back({kind, std::string(from[i])});
    }
}

std::string range(std::size_t start, std::size_t count) {
    // An empty range names the line before it, as diff writes it.
    return std::to_string(count == 0 ? start : start + 1) + ',' + std::to_string(count);
}

// `side` + '/' + path, in double quotes with C escapes when a byte would end or bend the name
// (`patch` takes an unquoted name to end at a space).
std::string file_name(char side, std::string_view path) {
    std::string name(1, side);
    if (!path.starts_with('/')) {
        name += '/';
    }
    name += path;
    const bool plain = std::ranges::none_of(name, [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7f || c == '"' || c == '\\';
    });
    if (plain) {
        return name;
    }
    std::string quoted = "\"";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20 || byte == 0x7f) {
            quoted += '\\';
            quoted += static_cast<char>('0' + (byte >> 6));
            quoted += static_cast<char>('0' + ((byte >> 3) & 7));
            quoted += static_cast<char>('0' + (byte & 7));
        } else {
            quoted += c;
        }
    }
    return quoted + '"';
}

}  // namespace

UnifiedDiff::UnifiedDiff(std::string_view before, std::string_view after, std::size_t context) {
    const Lines a = split_lines(before), b = split_lines(after);
    const std::vector<Change> changes = changes_between(a, b);
    for (std::size_t first = 0; first < changes.size();) {
        // Changes closer than twice the context share a hunk.
        std::size_t last = first;
        while (last + 1 < changes.size() &&
               changes[last + 1].old_begin - changes[last].old_end <= 2 * context) {
            ++last;
        }
        const Change& opening = changes[first];
        const Change& closing = changes[last];
        const std::size_t lead = std::min(context, opening.old_begin);
        const std::size_t trail = std::min(context, a.size() - closing.old_end);
        Hunk hunk;
        hunk.old_start = opening.old_begin - lead;
        hunk.new_start = opening.new_begin - lead;
        hunk.old_count = closing.old_end + trail - hunk.old_start;
        hunk.new_count = closing.new_end + trail - hunk.new_start;
        add_lines(hunk, Line::Kind::context, a, hunk.old_start, opening.old_begin);
        for (std::size_t i = first; i <= last; ++i) {
            add_lines(hunk, Line::Kind::removed, a, changes[i].old_begin, changes[i].old_end);
            add_lines(hunk, Line::Kind::added, b, changes[i].new_begin, changes[i].new_end);
            const std::size_t next = i < last ? changes[i + 1].old_begin : closing.old_end + trail;
            add_lines(hunk, Line::Kind::context, a, changes[i].old_end, next);
        }
        hunks_.push_back(std::move(hunk));
        first = last + 1;
    }
}

void UnifiedDiff::write(std::string_view path,
                        const std::function<void(Piece, std::string_view)>& out) const {
    if (hunks_.empty()) {
        return;  // headers alone are not a patch
    }
    out(Piece::file_header, "--- " + file_name('a', path) + '\n');
    out(Piece::file_header, "+++ " + file_name('b', path) + '\n');
    for (const Hunk& hunk : hunks_) {
        out(Piece::hunk_header, "@@ -" + range(hunk.old_start, hunk.old_count) + " +" +
                                    range(hunk.new_start, hunk.new_count) + " @@\n");
        for (const Line& line : hunk.lines) {
            const Piece piece = line.kind == Line::Kind::removed ? Piece::removed
                                : line.kind == Line::Kind::added ? Piece::added
                                                                 : Piece::context;
            const bool ended = line.text.ends_with('\n');
            out(piece, static_cast<char>(line.kind) + line.text + (ended ? "" : "\n"));
            if (!ended) {
                out(Piece::no_newline, "\\ No newline at end of file\n");
            }
        }
    }
}

std::string UnifiedDiff::text(std::string_view path) const {
    std::string all;
    write(path, [&all](Piece, std::string_view piece) { all += piece; });
    return all;
}

}  // namespace wendrel::core
