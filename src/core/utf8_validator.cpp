#include "core/utf8_validator.h"

#include <cstdint>
#include <cstring>

namespace wendrel::core {

namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// Where the ASCII run starting at `p` ends; eight bytes at a time, since this is what every
// ordinary file pays.
const unsigned char* skip_ascii(const unsigned char* p, const unsigned char* end) {
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        if ((word & kHighBits) != 0) {
            break;
        }
        p += 8;
    }
    while (p != end && *p < 0x80) {
        ++p;
    }
    return p;
}

}  // namespace

std::size_t Utf8Validator::ascii_prefix(std::string_view text) {
    const auto* begin = reinterpret_cast<const unsigned char*>(text.data());
    return static_cast<std::size_t>(skip_ascii(begin, begin + text.size()) - begin);
}

namespace {

// What a lead byte asks for: how many continuation bytes, and the range of the first of them
// (narrower right after the leads that could otherwise start an overlong form, a surrogate or a
// code point too large). False for a byte that cannot lead.
bool lead_needs(unsigned char lead, int& more, unsigned char& low, unsigned char& high) {
    low = 0x80;
    high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool Utf8Validator::feed(std::string_view piece) {
    const auto* p = reinterpret_cast<const unsigned char*>(piece.data());
    const auto* end = p + piece.size();
    // One byte at a time: the end of a character the last piece cut, and the last few bytes,
    // where a character may go on in the next piece. Between them, whole characters at once:
    // Chinese text is almost all three-byte characters, and every UTF-8 file pays this.
    const auto bytewise = [&] {
        while (valid_ && p != end) {
            if (need_ > 0) {
                const unsigned char c = *p++;
                valid_ = c >= low_ && c <= high_;
                low_ = 0x80;
                high_ = 0xBF;
                --need_;
                continue;
            }
            if (end - p >= 4) {
                return;
            }
            p = skip_ascii(p, end);
            if (p != end) {
                valid_ = lead_needs(*p++, need_, low_, high_);
            }
        }
    };
    bytewise();
    while (valid_ && end - p >= 4) {
        if (*p < 0x80) {
            p = skip_ascii(p, end);
            continue;
        }
        int more = 0;
        unsigned char low = 0, high = 0;
        valid_ = lead_needs(*p, more, low, high) && p[1] >= low && p[1] <= high &&
                 (more < 2 || (p[2] & 0xC0) == 0x80) && (more < 3 || (p[3] & 0xC0) == 0x80);
        p += more + 1;
    }
    bytewise();
    return valid_;
}

}  // namespace wendrel::core
