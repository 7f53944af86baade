#include "scanner.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace wendrel::core {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

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

}  // namespace

// Finds candidate starts of one find text in a buffer, first to last.
class Scanner::Finder {
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
#if defined(__SSE2__)
        if (n >= 2) {
            return next_by_ends(data, from, last);
        }
#endif
        const void* hit = memmem(data + from, last - from + n, find_.data(), n);
        return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - data) : kNone;
    }

  private:
#if defined(__SSE2__)
    // Where the first byte is common (a text dense with near misses), a start must also have
    // the find text's last byte in its place: 16 starts are tested at once on both, and only
    // those that pass are compared. Unlike memmem, nothing is set up per call, which a text
    // with a match every few bytes calls for at each one.
    std::size_t next_by_ends(const char* data, std::size_t from, std::size_t last) const {
        const std::size_t n = find_.size();
        const __m128i first = _mm_set1_epi8(find_.front());
        const __m128i end = _mm_set1_epi8(find_.back());
        std::size_t at = from;
        for (; at + 16 <= last + 1; at += 16) {
            const __m128i starts = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
            const __m128i ends =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + n - 1));
            auto mask = static_cast<unsigned>(_mm_movemask_epi8(
                _mm_and_si128(_mm_cmpeq_epi8(starts, first), _mm_cmpeq_epi8(ends, end))));
            while (mask != 0) {
                const std::size_t start = at + static_cast<std::size_t>(__builtin_ctz(mask));
                if (std::memcmp(data + start + 1, find_.data() + 1, n - 2) == 0) {
                    return start;
                }
                mask &= mask - 1;
            }
        }
        for (; at <= last; ++at) {
            if (data[at] == find_.front() &&
                std::memcmp(data + at + 1, find_.data() + 1, n - 1) == 0) {
                return at;
            }
        }
        return kNone;
    }
#endif

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

Scanner::Scanner(std::string_view find, MatchOptions options)
    : find_(find),
      whole_word_(options.whole_word),
      finder_(find.empty() ? nullptr : std::make_unique<Finder>(find, options.match_case)) {}

Scanner::~Scanner() = default;

std::size_t Scanner::undecided(const TextWindow& window) const {
    if (window.ends_text) {
        return window.end();
    }
    // A start is decided once the byte after its run is in the window.
    return window.size > find_.size() ? window.end() - find_.size() : window.begin;
}

std::size_t Scanner::next(const TextWindow& window, std::size_t from) {
    const std::size_t n = find_.size();
    // Bytes from a start to the end of what the window must hold for it.
    const std::size_t need = n + (window.ends_text ? 0 : 1);
    if (!finder_ || window.size < need || from > window.end() - need) {
        return npos;
    }
    const std::size_t base = window.begin;
    const std::size_t last = window.end() - need - base;
    const char* data = window.data;
    for (std::size_t at = from - base; at <= last;) {
        const std::size_t hit = finder_->next(data, at, last);
        if (hit == kNone) {
            return npos;
        }
        if (!whole_word_) {
            return hit + base;
        }
        const bool letter_before =
            hit + base > 0 && is_word(static_cast<unsigned char>(data[hit - 1]));
        const bool letter_after =
            hit + n < window.size && is_word(static_cast<unsigned char>(data[hit + n]));
        if (!letter_before && !letter_after) {
            return hit + base;
        }
        at = hit + 1;
    }
    return npos;
}

}  // namespace wendrel::core
