#pragma once

#include <string>
#include <string_view>

#include "core/transcoder.h"

namespace wendrel::core {

/// Checks, on a text fed in pieces, that decoding it from one encoding to UTF-8 and encoding
/// that back gives exactly the same bytes: only then can a replacement made on the UTF-8 form
/// be written back without touching anything else.
class RoundTrip {
  public:
    explicit RoundTrip(const std::string& encoding);

    /// False once the text so far fails to decode or comes back different.
    bool feed(std::string_view piece);
    /// True when the whole text came back byte for byte.
    bool finish();
    bool alive() const { return alive_; }
    /// The UTF-8 text of what the last feed() or finish() took in, while alive().
    std::string_view text() const { return decoded_; }
    const std::string& encoding() const { return decode_.from(); }

  private:
    bool compare(std::string_view piece);

    Transcoder decode_;
    Transcoder encode_;
    bool alive_;
    std::string decoded_;  // scratch, per piece
    std::string encoded_;  // scratch, per piece
    std::string lag_;      // input not yet matched: a character still held by the decoder
};

}  // namespace wendrel::core
