#pragma once

#include <iconv.h>

#include <stdexcept>
#include <string>
#include <string_view>

namespace wendrel::test {

// Converts a whole text with iconv(3) in one call: the reference the streaming code is
// checked against. Throws when the text does not convert.
inline std::string iconv_whole(const char* from, const char* to, std::string_view text) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw std::runtime_error("no conversion");
    }
    std::string out(text.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t in_left = text.size();
    char* next = out.data();
    std::size_t out_left = out.size();
    const std::size_t done = iconv(cd, &in, &in_left, &next, &out_left);
    iconv_close(cd);
    if (done == static_cast<std::size_t>(-1)) {
        throw std::runtime_error("text does not convert");
    }
    out.resize(out.size() - out_left);
    return out;
}

}  // namespace wendrel::test
