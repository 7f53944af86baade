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

namespace {

// The whole input in memory: every position is always at hand.
class WholeText {
  public:
    explicit WholeText(const std::string& text) : text_(text) {}
    bool serve(std::size_t) { return true; }
    const char* data() const { return text_.data(); }
    std::size_t base() const { return 0; }
    std::size_t end() const { return text_.size(); }
    char operator()(std::size_t at) const { return text_[at]; }

  private:
    const std::string& text_;
};

// A source read front to back through a window of bounded size. A position the scan looks at
// lies at most one byte before the search position (`keep` below), and at most `margin` bytes
// past a candidate; the window slides only once the search has nearly used it up, so a slide
// moves a few bytes, not the window.
class ReadWindow {
  public:
    ReadWindow(std::uint64_t size, const EntryPass::Reader& read, std::size_t capacity,
               std::size_t margin)
        : size_(size),
          read_(read),
          storage_(new char[capacity]),
          capacity_(capacity),
          margin_(margin) {}

    /// Makes the window serve a search from `at`; false once a read has failed.
    bool serve(std::size_t at) {
        if (end() < size_ && at + margin_ >= end()) {
            advance(at > 0 ? at - 1 : 0);
        }
        return error_ == 0;
    }
    const char* data() const { return storage_.get(); }
    std::size_t base() const { return base_; }
    std::size_t end() const { return base_ + filled_; }
    char operator()(std::size_t at) const { return storage_[at - base_]; }

    /// Reads what the scan left, so that a source of another length is noticed; 0 or an errno.
    int finish() {
        while (error_ == 0 && taken_ < size_) {
            advance(end());
        }
        if (error_ == 0) {
            char probe;
            const long got = read_(&probe, 1);
            if (got != 0) {
                error_ = got < 0 ? static_cast<int>(-got) : EAGAIN;  // grew while being read
            }
        }
        return error_;
    }

  private:
    // Keeps the source from `keep` on and reads until the window is full or the source ends.
    void advance(std::size_t keep) {
        if (keep > base_) {
            const std::size_t drop = std::min(keep - base_, filled_);
            std::memmove(storage_.get(), storage_.get() + drop, filled_ - drop);
            filled_ -= drop;
            base_ += drop;
        }
        while (error_ == 0 && taken_ < size_ && filled_ < capacity_) {
            const long got = read_(storage_.get() + filled_,
                                   std::min<std::uint64_t>(capacity_ - filled_, size_ - taken_));
            if (got < 0) {
                error_ = static_cast<int>(-got);
            } else if (got == 0) {
                error_ = EAGAIN;  // shrank while being read
            } else {
                filled_ += static_cast<std::size_t>(got);
                taken_ += static_cast<std::size_t>(got);
            }
        }
    }

    const std::uint64_t size_;
    const EntryPass::Reader& read_;
    const std::unique_ptr<char[]> storage_;
    const std::size_t capacity_;
    const std::size_t margin_;
    std::size_t base_ = 0;    // source position of storage_[0]
    std::size_t filled_ = 0;  // bytes of the window holding source bytes
    std::size_t taken_ = 0;   // bytes read from the source so far
    int error_ = 0;
};

// Past a candidate, the scan looks at most this far: its find text, then the bytes a
// candidate inside the replacement could reach.
std::size_t look_ahead(std::size_t find_size) {
    return 2 * find_size + 1;
}

// The same scan as apply(), over the unchanged input of `size` bytes: `scanned` counts the
// bytes finished (the scan position in the text being rewritten), `last` is the last finished
// byte, and each run of finished bytes is noted instead of copied. Gives the count, or nothing
// when the pass must rewrite in memory after all or the source cannot serve the scan.
template <typename Source>
std::optional<std::size_t> plan_over(Source& in, std::size_t size, const Entry& entry,
                                     MatchOptions options, std::vector<Splice>& runs,
                                     bool& changes) {
    const std::string& find = entry.find;
    const std::string& repl = entry.replace;
    const std::size_t n = find.size();
    runs.clear();
    changes = false;
    const auto add_input = [&](std::size_t from, std::size_t to) {
        if (to > from) {
            runs.push_back(Splice{from, to - from, false});
        }
    };
    if (n == 0 || size < n) {
        add_input(0, size);
        return 0;
    }
    // Checking candidates inside a long replacement costs its length times the find text's.
    constexpr std::size_t kLongestChecked = 1 << 16;
    // Where matches lie a few bytes apart, the runs would take more memory than a copy of the
    // text, and writing them would copy each one anyway.
    const std::size_t most_runs = size / 256 + 64;
    const std::size_t last_start = size - n;
    const std::size_t margin = look_ahead(n);
    Finder finder(find, options.match_case);
    std::size_t scanned = 0;
    std::size_t head = 0;       // first unscanned byte of the input
    std::size_t run_start = 0;  // first input byte not yet in a run
    int last = -1;              // last finished byte; none yet
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
            if (!in.serve(at)) {
                return std::nullopt;
            }
            const std::size_t last_here =
                in.end() >= size ? last_candidate : std::min(last_candidate, in.end() - margin);
            const std::size_t found = finder.next(in.data(), at - in.base(), last_here - in.base());
            if (found == kNone) {
                at = last_here + 1;
                continue;
            }
            const std::size_t h = found + in.base();
            if (options.whole_word) {
                const auto before = static_cast<unsigned char>(
                    h > head ? in(h - 1) : (last < 0 ? ' ' : static_cast<char>(last)));
                const auto after = static_cast<unsigned char>(h + n < size ? in(h + n) : ' ');
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
            return std::nullopt;
        }
        if (!changes) {
            changes = repl.size() != n;
            for (std::size_t k = 0; k < n && !changes; ++k) {
                changes = in(hit + k) != repl[k];
            }
        }
        add_input(run_start, hit);
        scanned += hit - head;
        ++count;
        head = hit + n;
        run_start = head;
        if (repl.empty()) {
            // The byte that moves into the replaced position is passed over untested.
            if (head == size) {
                break;
            }
            last = static_cast<unsigned char>(in(head++));
            ++scanned;
            continue;
        }
        runs.push_back(Splice{0, repl.size(), true});
        ++scanned;
        if (repl.size() > 1) {
            if (repl.size() > kLongestChecked ||
                match_inside_replacement(in, size, head, repl, find, scanned, last_start,
                                         options)) {
                return std::nullopt;
            }
            scanned += repl.size() - 1;
        }
        last = static_cast<unsigned char>(repl.back());
    }
    add_input(run_start, size);
    return count;
}

}  // namespace

std::optional<std::size_t> EntryPass::plan(const std::string& in, const Entry& entry,
                                           MatchOptions options, std::vector<Splice>& runs) {
    WholeText text(in);
    bool changes = false;
    return plan_over(text, in.size(), entry, options, runs, changes);
}

int EntryPass::plan_stream(std::uint64_t size, const Reader& read, const Entry& entry,
                           MatchOptions options, StreamPlan& plan, std::size_t window) {
    plan = StreamPlan{};
    const std::size_t needed = 2 * look_ahead(entry.find.size()) + 64;
    // No larger than the source needs; bytes are only ever read after being filled in.
    const std::size_t capacity = std::max<std::size_t>(
        needed, static_cast<std::size_t>(std::min<std::uint64_t>(window, size + 1)));
    ReadWindow source(size, read, capacity, look_ahead(entry.find.size()));
    plan.count =
        plan_over(source, static_cast<std::size_t>(size), entry, options, plan.runs, plan.changes);
    const int error = source.finish();
    if (error != 0) {
        plan.count.reset();
    }
    return error;
}

}  // namespace wendrel::core
