#pragma once

#include <cstddef>
#include <string>

namespace wendrel::core {

/// What a file's bytes are, as far as replacing text in them goes.
struct TextEncoding {
    enum class Kind {
        bytes,    // not recognised: replaced byte for byte, as any file always was
        utf8,     // valid UTF-8 or pure ASCII: byte replacement is already exact
        decoded,  // a multi-byte encoding whose text has to pass through UTF-8
    };

    Kind kind = Kind::bytes;
    std::string name;     // the iconv name when decoded, else empty
    std::size_t bom = 0;  // bytes of byte order mark at the start of the file

    bool operator==(const TextEncoding&) const = default;
};

}  // namespace wendrel::core
