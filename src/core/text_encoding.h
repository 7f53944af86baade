#pragma once

#include <cstddef>
#include <string>
#include <string_view>

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

    /// Whether an encoding name given by the user means UTF-8.
    static bool names_utf8(std::string_view name) {
        std::string plain;
        for (const char c : name) {
            if (c != '-' && c != '_') {
                plain += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
            }
        }
        return plain == "UTF8";
    }
    /// Whether ASCII text keeps its bytes in the encoding `name` (not so in UTF-16 and UTF-32).
    static bool ascii_compatible(std::string_view name) {
        return !name.starts_with("UTF-16") && !name.starts_with("UTF-32") &&
               !name.starts_with("UCS-");
    }
};

}  // namespace wendrel::core
