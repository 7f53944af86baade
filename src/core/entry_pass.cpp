#include "entry_pass.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>

#include "large_buffer.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace wendrel::core {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
constexpr std::size_t kMinGap = 64 * 1024;

unsigned char lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

// Only the ASCII letters count: digits, '_' and every byte from 128 up do not.
bool is_word(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool equal_ignoring_case(const char* a, const char* b, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
        if (lower(static_cast<unsigned char>(a[k])) != lower(static_cast<unsigned char>(b[k]))) {
            return false;
        }
    }
    return true;
}

// Finds candidate starts of one find text in a buffer, first to last.
class Finder {
  public:
    Finder(std::string_view find, bool match_case) : find_(find) {
        const auto first = static_cast<unsigned char>(find.front());
        const bool has_letter =
            std::any_of(find.begin(), find.end(), [](char c) { return is_word(c); });
        fold_ = !match_case && has_letter;
        lower_first_ = static_cast<char>(lower(first));
        upper_first_ = static_cast<char>(is_word(first) ? (lower(first) - ('a' - 'A')) : first);
    }

    /// First start in [from, last] of a byte run equal to the find text; kNone if there is none.
    /// The run starting at `last` must lie inside `data`.
    std::size_t next(const char* data, std::size_t from, std::size_t last) {
        const std::size_t n = find_.size();
        if (fold_) {
            return next_folded(data, from, last);
        }
        // Dense matches often start right where the scan stands: no search call for those.
        if (std::memcmp(data + from, find_.data(), n) == 0) {
            return from;
        }
        // memchr on the first byte outruns memmem while that byte is rare or matches are
        // dense; once it keeps stopping every few bytes on starts that lead nowhere, the cost
        // of each call outweighs its speed and memmem takes over.
        for (std::size_t at = from; at <= last && memchr_pays();) {
            const void* hit = std::memchr(data + at, find_.front(), last - at + 1);
            if (hit == nullptr) {
                return kNone;
            }
            const auto stop = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
            if (std::memcmp(data + stop + 1, find_.data() + 1, n - 1) == 0) {
                return stop;
            }
            ++false_starts_;
            passed_ += stop + 1 - at;
            at = stop + 1;
            from = at;
        }
        if (from > last) {
            return kNone;
        }
        const void* hit = memmem(data + from, last - from + n, find_.data(), n);
        return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - data) : kNone;
    }

  private:
    // memchr is kept while its false starts are this far apart on average, judged once there
    // have been enough of them to tell.
    static constexpr std::size_t kFalseStartsToJudge = 256;
    static constexpr std::size_t kMinFalseStartStride = 64;

    bool memchr_pays() const {
        return false_starts_ < kFalseStartsToJudge ||
               passed_ >= kMinFalseStartStride * false_starts_;
    }

    std::size_t next_folded(const char* data, std::size_t from, std::size_t last) const {
        const std::size_t n = find_.size();
        for (std::size_t at = from; at <= last;) {
            at = next_first_byte(data, at, last);
            if (at == kNone) {
                return kNone;
            }
            if (equal_ignoring_case(data + at + 1, find_.data() + 1, n - 1)) {
                return at;
            }
            ++at;
        }
        return kNone;
    }

    // Next byte in [from, last] equal to the first find byte in either case. One pass over the
    // bytes: two memchr calls would rescan the whole rest for a case that seldom occurs.
    std::size_t next_first_byte(const char* data, std::size_t from, std::size_t last) const {
        if (lower_first_ == upper_first_) {
            const void* hit = std::memchr(data + from, lower_first_, last - from + 1);
            return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - data) : kNone;
        }
        std::size_t at = from;
#if defined(__SSE2__)
        // Setting bit 5 folds exactly the two cases of a letter together.
        const __m128i fold = _mm_set1_epi8(0x20);
        const __m128i want = _mm_set1_epi8(lower_first_);
        for (; at + 16 <= last + 1; at += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
            const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(bytes, fold), want));
            if (mask != 0) {
                return at + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
            }
        }
#endif
        for (; at <= last; ++at) {
            if ((data[at] | 0x20) == lower_first_) {
                return at;
            }
        }
        return kNone;
    }

    std::string_view find_;
    bool fold_ = false;
    std::size_t false_starts_ = 0;  // first bytes the first-byte scan stopped on in vain
    std::size_t passed_ = 0;        // bytes it went through up to and over those stops
    char lower_first_ = 0;
    char upper_first_ = 0;
};

}  // namespace

// The text is held as a finished part (`out_`, never looked at again) and an unscanned part
// `in[head, end)`. A replacement consumes the candidate from the unscanned part and puts the
// replacement in front of it, where the bytes already finished leave room; the scan position
// is always out_.size() bytes into the content.
std::size_t EntryPass::apply(std::string& in, const Entry& entry, MatchOptions options) {
    const std::string& find = entry.find;
    const std::string& repl = entry.replace;
    const std::size_t n = find.size();
    if (n == 0 || in.size() < n) {
        return 0;
    }
    const std::size_t last_start = in.size() - n;  // fixed for the whole pass
    Finder finder(find, options.match_case);

    out_.clear();
    reserve_large(out_, in.size() + (repl.size() > n ? 4096 : 0));
    std::size_t head = 0;
    std::size_t gap_hint = kMinGap;
    std::size_t count = 0;

    while (out_.size() <= last_start) {
        const std::size_t avail = in.size() - head;
        if (avail < n) {
            break;
        }
        const std::size_t last = head + std::min(last_start - out_.size(), avail - n);
        std::size_t at = head;
        std::size_t hit = kNone;
        while ((hit = finder.next(in.data(), at, last)) != kNone) {
            if (!options.whole_word) {
                break;
            }
            const auto before = static_cast<unsigned char>(
                hit > head ? in[hit - 1] : (out_.empty() ? ' ' : out_.back()));
            const auto after = static_cast<unsigned char>(hit + n < in.size() ? in[hit + n] : ' ');
            if (!is_word(before) && !is_word(after)) {
                break;
            }
            at = hit + 1;
            if (at > last) {
                hit = kNone;
                break;
            }
        }
        if (hit == kNone) {
            break;
        }
        out_.append(in, head, hit - head);
        ++count;
        head = hit + n;
        if (repl.empty()) {
            // The byte that moves into the replaced position is passed over untested.
            if (head == in.size()) {
                break;
            }
            out_.push_back(in[head++]);
            continue;
        }
        out_.push_back(repl.front());
        const std::size_t rest = repl.size() - 1;
        if (rest > head) {
            // Not enough finished bytes in front to hold the rest of the replacement: move the
            // unscanned part back by a gap that doubles each time, so dense growth stays cheap.
            const std::size_t remaining = in.size() - head;
            const std::size_t gap =
                std::max(rest, std::min(std::max(remaining, kMinGap), gap_hint));
            gap_hint *= 2;
            std::string moved(gap + remaining, '\0');
            std::memcpy(moved.data() + gap, in.data() + head, remaining);
            in.swap(moved);
            head = gap;
        }
        head -= rest;
        std::memcpy(in.data() + head, repl.data() + 1, rest);
    }
    out_.append(in, head, std::string::npos);
    in.swap(out_);
    return count;
}

namespace {

// True when a candidate starting inside the replacement just inserted would be taken. The
// unscanned text then begins with `rest` = the replacement without its first byte, followed by
// in[head, end); `scanned` bytes lie before it, and candidates may start up to `last_start`.
// `input(i)` gives byte i of the input, which is `size` bytes long.
template <typename Input>
bool match_inside_replacement(const Input& input, std::size_t size, std::size_t head,
                              const std::string& repl, const std::string& find, std::size_t scanned,
                              std::size_t last_start, MatchOptions options) {
    const std::size_t rest = repl.size() - 1;
    const std::size_t n = find.size();
    const std::size_t length = rest + (size - head);  // of the unscanned text
    const auto at = [&](std::size_t k) {
        return static_cast<unsigned char>(k < rest ? repl[1 + k] : input(head + k - rest));
    };
    for (std::size_t s = 0; s < rest && scanned + s <= last_start && s + n <= length; ++s) {
        bool equal = true;
        for (std::size_t k = 0; k < n && equal; ++k) {
            const auto want = static_cast<unsigned char>(find[k]);
            equal = options.match_case ? at(s + k) == want : lower(at(s + k)) == lower(want);
        }
        if (!equal) {
            continue;
        }
        if (!options.whole_word) {
            return true;
        }
        const unsigned char before = s == 0 ? static_cast<unsigned char>(repl.front()) : at(s - 1);
        const unsigned char after = s + n < length ? at(s + n) : ' ';
        if (!is_word(before) && !is_word(after)) {
            return true;
        }
    }
    return false;
}

}  // namespace

// The same scan as apply(), over the unchanged input: `scanned` counts the bytes finished
// (the scan position in the text being rewritten), `last` is the last finished byte, and
// each run of finished bytes is noted instead of copied.
std::optional<std::size_t> EntryPass::plan(const std::string& in, const Entry& entry,
                                           MatchOptions options, std::vector<Splice>& runs) {
    const std::string& find = entry.find;
    const std::string& repl = entry.replace;
    const std::size_t n = find.size();
    runs.clear();
    const auto add_input = [&](std::size_t from, std::size_t to) {
        if (to > from) {
            runs.push_back(Splice{from, to - from, false});
        }
    };
    if (n == 0 || in.size() < n) {
        add_input(0, in.size());
        return 0;
    }
    // Checking candidates inside a long replacement costs its length times the find text's.
    constexpr std::size_t kLongestChecked = 1 << 16;
    // Where matches lie a few bytes apart, the runs would take more memory than a copy of the
    // text, and writing them would copy each one anyway.
    const std::size_t most_runs = in.size() / 256 + 64;
    const std::size_t last_start = in.size() - n;
    Finder finder(find, options.match_case);
    std::size_t scanned = 0;
    std::size_t head = 0;       // first unscanned byte of the input
    std::size_t run_start = 0;  // first input byte not yet in a run
    int last = -1;              // last finished byte; none yet
    std::size_t count = 0;

    while (scanned <= last_start) {
        const std::size_t avail = in.size() - head;
        if (avail < n) {
            break;
        }
        const std::size_t last_candidate = head + std::min(last_start - scanned, avail - n);
        std::size_t at = head;
        std::size_t hit = kNone;
        while ((hit = finder.next(in.data(), at, last_candidate)) != kNone) {
            if (!options.whole_word) {
                break;
            }
            const auto before = static_cast<unsigned char>(
                hit > head ? in[hit - 1] : (last < 0 ? ' ' : static_cast<char>(last)));
            const auto after = static_cast<unsigned char>(hit + n < in.size() ? in[hit + n] : ' ');
            if (!is_word(before) && !is_word(after)) {
                break;
            }
            at = hit + 1;
            if (at > last_candidate) {
                hit = kNone;
                break;
            }
        }
        if (hit == kNone) {
            break;
        }
        if (runs.size() >= most_runs) {
            return std::nullopt;
        }
        add_input(run_start, hit);
        scanned += hit - head;
        ++count;
        head = hit + n;
        run_start = head;
        if (repl.empty()) {
            // The byte that moves into the replaced position is passed over untested.
            if (head == in.size()) {
                break;
            }
            last = static_cast<unsigned char>(in[head++]);
            ++scanned;
            continue;
        }
        runs.push_back(Splice{0, repl.size(), true});
        ++scanned;
        if (repl.size() > 1) {
            if (repl.size() > kLongestChecked ||
                match_inside_replacement([&](std::size_t i) { return in[i]; }, in.size(), head,
                                         repl, find, scanned, last_start, options)) {
                return std::nullopt;
            }
            scanned += repl.size() - 1;
        }
        last = static_cast<unsigned char>(repl.back());
    }
    add_input(run_start, in.size());
    return count;
}

// plan() again, over a source read front to back through a window: every position the scan
// looks at lies between one byte before the search position and twice the find text's length
// past a candidate, so the window keeps from there and is refilled as the search moves on.
int EntryPass::plan_stream(std::uint64_t size, const Reader& read, const Entry& entry,
                           MatchOptions options, StreamPlan& plan, std::size_t window) {
    const std::string& find = entry.find;
    const std::string& repl = entry.replace;
    const std::size_t n = find.size();
    plan = StreamPlan{};
    std::vector<Splice>& runs = plan.runs;
    const auto add_input = [&](std::size_t from, std::size_t to) {
        if (to > from) {
            runs.push_back(Splice{from, to - from, false});
        }
    };

    // No larger than the source needs; bytes are only ever read after being filled in.
    const std::size_t capacity = std::max<std::size_t>(
        4 * n + 64, static_cast<std::size_t>(std::min<std::uint64_t>(window, size + 1)));
    const std::unique_ptr<char[]> storage(new char[capacity]);
    const std::span<char> buffer(storage.get(), capacity);
    std::size_t base = 0;    // source position of buffer[0]
    std::size_t filled = 0;  // bytes of the buffer holding source bytes
    std::size_t taken = 0;   // bytes read from the source so far
    int error = 0;
    // Keeps the source from `keep` on and reads until the buffer is full or the source ends.
    const auto advance = [&](std::size_t keep) {
        if (keep > base) {
            const std::size_t drop = std::min(keep - base, filled);
            std::memmove(buffer.data(), buffer.data() + drop, filled - drop);
            filled -= drop;
            base += drop;
        }
        while (error == 0 && taken < size && filled < buffer.size()) {
            const long got = read(buffer.data() + filled,
                                  std::min<std::uint64_t>(buffer.size() - filled, size - taken));
            if (got < 0) {
                error = static_cast<int>(-got);
            } else if (got == 0) {
                error = EAGAIN;  // shrank while being read
            } else {
                filled += static_cast<std::size_t>(got);
                taken += static_cast<std::size_t>(got);
            }
        }
    };
    const auto byte = [&](std::size_t at) { return buffer[at - base]; };
    // Reads what the scan left, so that a source of another length is noticed.
    const auto finish = [&]() {
        char rest[4096];
        while (error == 0) {
            if (taken < size) {
                advance(base + filled);
                continue;
            }
            const long got = read(rest, sizeof rest);
            if (got != 0) {
                error = got < 0 ? static_cast<int>(-got) : EAGAIN;  // grew while being read
            }
            break;
        }
        return error;
    };

    if (n == 0 || size < n) {
        add_input(0, size);
        plan.count = 0;
        return finish();
    }
    constexpr std::size_t kLongestChecked = 1 << 16;
    const std::size_t most_runs = size / 256 + 64;
    const std::size_t last_start = size - n;
    const std::size_t margin = 2 * n + 1;  // past a candidate, the scan may look this far
    Finder finder(find, options.match_case);
    std::size_t scanned = 0;
    std::size_t head = 0;
    std::size_t run_start = 0;
    int last = -1;
    std::size_t count = 0;

    while (scanned <= last_start) {
        const std::size_t avail = size - head;
        if (avail < n) {
            break;
        }
        const std::size_t last_candidate = head + std::min(last_start - scanned, avail - n);
        std::size_t at = head;
        std::size_t hit = kNone;
        while (at <= last_candidate) {
            // The window slides only once the search has nearly used it up, so a slide moves
            // a few bytes, not the window.
            if (base + filled < size && at + margin >= base + filled) {
                advance(at > 0 ? at - 1 : 0);
                if (error != 0) {
                    return error;
                }
            }
            const std::size_t end = base + filled;
            const std::size_t last_here =
                end >= size ? last_candidate : std::min(last_candidate, end - margin);
            const std::size_t found = finder.next(buffer.data(), at - base, last_here - base);
            if (found == kNone) {
                at = last_here + 1;
                continue;
            }
            const std::size_t h = found + base;
            if (options.whole_word) {
                const auto before = static_cast<unsigned char>(
                    h > head ? byte(h - 1) : (last < 0 ? ' ' : static_cast<char>(last)));
                const auto after = static_cast<unsigned char>(h + n < size ? byte(h + n) : ' ');
                if (is_word(before) || is_word(after)) {
                    at = h + 1;
                    continue;
                }
            }
            hit = h;
            break;
        }
        if (hit == kNone) {
            break;
        }
        if (runs.size() >= most_runs) {
            return finish();  // plan.count stays empty: the caller rewrites in memory
        }
        if (!plan.changes) {
            plan.changes = repl.size() != n;
            for (std::size_t k = 0; k < n && !plan.changes; ++k) {
                plan.changes = byte(hit + k) != repl[k];
            }
        }
        add_input(run_start, hit);
        scanned += hit - head;
        ++count;
        head = hit + n;
        run_start = head;
        if (repl.empty()) {
            if (head == size) {
                break;
            }
            last = static_cast<unsigned char>(byte(head++));
            ++scanned;
            continue;
        }
        runs.push_back(Splice{0, repl.size(), true});
        ++scanned;
        if (repl.size() > 1) {
            if (repl.size() > kLongestChecked ||
                match_inside_replacement(byte, size, head, repl, find, scanned, last_start,
                                         options)) {
                return finish();
            }
            scanned += repl.size() - 1;
        }
        last = static_cast<unsigned char>(repl.back());
    }
    add_input(run_start, size);
    plan.count = count;
    return finish();
}

}  // namespace wendrel::core
