#pragma once

#include <cstddef>
#include <string_view>

namespace wendrel::core {

/// Checks that a text fed in pieces is UTF-8, with characters split anywhere between pieces.
/// Rejects what iconv and the Unicode standard reject: overlong forms, surrogates, code
/// points past U+10FFFF.
class Utf8Validator {
  public:
    /// False once the text so far cannot be UTF-8; later pieces are then ignored.
    bool feed(std::string_view piece);
    /// True when the whole text was UTF-8, ending on a character boundary.
    bool finish() const { return valid_ && need_ == 0; }
    bool valid() const { return valid_; }

    /// How many bytes at the start of `text` are ASCII.
    static std::size_t ascii_prefix(std::string_view text);

  private:
    bool valid_ = true;
    int need_ = 0;  // continuation bytes still owed by the current character
    // The range of the next continuation byte: narrower than 80..BF right after the leads
    // that could otherwise start an overlong form, a surrogate or a code point too large.
    unsigned char low_ = 0x80;
    unsigned char high_ = 0xBF;
};

}  // namespace wendrel::core
