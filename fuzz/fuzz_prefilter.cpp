// The prefilter's answers against the literal model applying the entries in order, on any bytes,
// with either matcher and any piece sizes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "prefilter_check.h"

using namespace wendrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    // Byte 0: options, matcher and the first piece size; byte 1: entry count; byte 2: the second
    // piece size; then per entry a length byte (find and replacement, each 0 to 7) and their
    // bytes, and the content. Short texts make matches likely.
    const core::MatchOptions options{(data[0] & 1) != 0, (data[0] & 2) != 0};
    const auto matcher = (data[0] & 4) != 0 ? core::EntryPrefilter::Matcher::own
                                            : core::EntryPrefilter::Matcher::vectorscan;
    const std::vector<std::size_t> pieces = {1 + data[0] / 8u, 1 + data[2] % 64u};
    const std::string rest(reinterpret_cast<const char*>(data) + 3, size - 3);
    std::size_t at = 0;
    const auto take = [&](std::size_t n) {
        const std::string bytes = rest.substr(std::min(at, rest.size()), n);
        at += bytes.size();
        return bytes;
    };
    std::vector<core::Entry> entries(1 + data[1] % 12);
    for (core::Entry& entry : entries) {
        const unsigned lengths = at < rest.size() ? static_cast<unsigned char>(rest[at++]) : 0;
        entry.find = take(lengths % 8);
        entry.replace = take(lengths / 8 % 8);
    }
    // At most 512 bytes: the model rebuilds the text per replacement.
    const std::string content = take(512);
    if (!test::wrong_prefilter(entries, content, options, matcher, pieces).empty()) {
        std::abort();
    }
    return 0;
}
