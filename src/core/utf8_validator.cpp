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

bool Utf8Validator::feed(std::string_view piece) {
    const auto* p = reinterpret_cast<const unsigned char*>(piece.data());
    const auto* end = p + piece.size();
    // Whole characters at once while the longest one fits, past the end of one the last piece
    // cut: Chinese text is almost all three-byte characters, and every UTF-8 file pays this.
    while (valid_ && need_ > 0 && p != end) {
        const unsigned char c = *p++;
        valid_ = c >= low_ && c <= high_;
        low_ = 0x80;
        high_ = 0xBF;
        --need_;
    }
    while (valid_ && end - p >= 4) {
        const unsigned char lead = *p;
        if (lead < 0x80) {
            p = skip_ascii(p, end);
            continue;
        }
        int more = 0;
        unsigned char low = 0x80, high = 0xBF;
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
            valid_ = false;
            break;
        }
        valid_ = p[1] >= low && p[1] <= high && (more < 2 || (p[2] & 0xC0) == 0x80) &&
                 (more < 3 || (p[3] & 0xC0) == 0x80);
        p += more + 1;
    }
    // The last few bytes one at a time: a character may go on in the next piece.
    while (valid_ && p != end) {
        if (need_ > 0) {
            const unsigned char c = *p++;
            valid_ = c >= low_ && c <= high_;
            low_ = 0x80;
            high_ = 0xBF;
            --need_;
            continue;
        }
        p = skip_ascii(p, end);
        if (p == end) {
            break;
        }
        const unsigned char lead = *p++;
        if (lead >= 0xC2 && lead <= 0xDF) {
            need_ = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            need_ = 2;
            low_ = lead == 0xE0 ? 0xA0 : 0x80;
            high_ = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            need_ = 3;
            low_ = lead == 0xF0 ? 0x90 : 0x80;
            high_ = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            valid_ = false;
        }
    }
    return valid_;
}

}  // namespace wendrel::core
