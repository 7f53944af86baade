#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/transcoder.h"

namespace wendrel::core {

/// Takes UTF-8 text in pieces split anywhere and passes it on encoded: the end of an
/// EntryChain over a file in another encoding. Never substitutes a character.
class EncodingWriter {
  public:
    /// Takes the next piece of encoded bytes; gives 0 or an errno. Null: they are dropped,
    /// and only what cannot be encoded is found.
    using RawWrite = std::function<int(std::string_view piece)>;

    EncodingWriter(const std::string& encoding, RawWrite write);

    /// 0, or an errno of the write, or failure::kNotRepresentable.
    int put(std::string_view text);
    /// After the last piece: 0, or as put().
    int finish();

  private:
    int convert(std::string_view text, bool last);

    Transcoder encode_;
    RawWrite write_;
    std::string encoded_;
};

}  // namespace wendrel::core
