#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "core/transcoder.h"

namespace wendrel::core {

/// A file's text decoded to UTF-8 as it is read, handed out the way read(2) hands out bytes:
/// the source of an EntryChain over a file in another encoding.
class DecodingReader {
  public:
    /// Like read(2): bytes placed, 0 at the end, or a negative errno.
    using RawRead = std::function<long(char* buffer, std::size_t size)>;

    DecodingReader(const std::string& encoding, RawRead read);

    /// UTF-8 bytes placed, 0 at the end, or a negative errno (EILSEQ or EINVAL: the bytes read
    /// are not text in the encoding).
    long operator()(char* buffer, std::size_t size);

  private:
    static constexpr std::size_t kRawPiece = 256 * 1024;

    Transcoder decode_;
    RawRead read_;
    std::string raw_;
    std::string text_;  // decoded, not yet handed out from `given_` on
    std::size_t given_ = 0;
    bool ended_ = false;
};

}  // namespace wendrel::core
