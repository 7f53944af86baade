#pragma once

#include <string>
#include <string_view>

namespace wendrel::core {

/// Converts a stream of text between two encodings through iconv(3), in pieces that may
/// split a character anywhere. Never substitutes: a character that cannot be carried over
/// exactly stops the conversion.
class Transcoder {
  public:
    Transcoder(std::string from, std::string to);
    ~Transcoder();
    Transcoder(const Transcoder&) = delete;
    Transcoder& operator=(const Transcoder&) = delete;

    /// False when iconv knows no conversion between the two names; convert() then fails.
    bool ok() const;

    /// Appends the conversion of `in` to `out` and returns 0. An incomplete character at the
    /// end of `in` is kept for the next call. Returns EILSEQ when `in` is not valid in the
    /// source encoding or holds a character the target cannot represent, EINVAL when `last`
    /// and the text ends inside a character, EBADF when !ok(). After an error, `out` holds
    /// what was converted before it, and the object needs reset() before further use.
    int convert(std::string_view in, std::string& out, bool last);

    /// Back to the state of a new object, for the next text.
    void reset();

    /// The whole of `in`, converted from the state of a new object, in place of `out`'s
    /// content: 0, or as convert().
    int convert_whole(std::string_view in, std::string& out);

    const std::string& from() const { return from_; }
    const std::string& to() const { return to_; }

  private:
    std::string from_;
    std::string to_;
    void* cd_;             // iconv_t, kept out of the header
    std::string pending_;  // the start of a character split by the end of the last piece
};

}  // namespace wendrel::core
