#pragma once

#include <string>

namespace wendrel::core {

/// One record of the replacement-content file: a find text and its replacement (bytes).
struct Entry {
    std::string find;
    std::string replace;

    bool operator==(const Entry&) const = default;
};

}  // namespace wendrel::core
