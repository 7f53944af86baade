#pragma once

namespace wendrel::core {

struct MatchOptions {
    bool whole_word = false;  // chk_qzpp
    bool match_case = true;   // chk_dxx

    bool operator==(const MatchOptions&) const = default;
};

}  // namespace wendrel::core
