// The entries applied in turn, in memory and flowing through a chain in any windows and pieces,
// against the literal reference model, on any bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "entry_pass_forms.h"

using namespace wendrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    // Byte 0: options and piece size; byte 1: number of entries and which may be skipped;
    // byte 2: the windows' budget; byte 3 on: per entry a length byte (find, replacement),
    // find and replacement, then the content. Lengths are kept small so that matches are likely.
    const core::MatchOptions options{(data[0] & 1) != 0, (data[0] & 2) != 0};
    std::string rest(reinterpret_cast<const char*>(data) + 3, size - 3);
    std::vector<core::Entry> entries(1 + data[1] % 4);
    for (core::Entry& entry : entries) {
        if (rest.empty()) {
            break;
        }
        const auto lengths = static_cast<unsigned char>(rest[0]);
        rest.erase(0, 1);
        const std::size_t find_size = std::min<std::size_t>(lengths % 5, rest.size());
        entry.find = rest.substr(0, find_size);
        entry.replace =
            rest.substr(find_size, std::min<std::size_t>(lengths / 5 % 9, rest.size() - find_size));
        rest.erase(0, entry.find.size() + entry.replace.size());
    }
    // At most 512 bytes: the model rebuilds the text per replacement.
    const std::string content = rest.substr(0, 512);
    static core::EntryPass pass;  // reused, as a job reuses it
    if (!test::wrong_forms(pass, content, entries, options, data[2] % 128, 1 + data[0] / 4 % 16,
                           data[1] / 4)
             .empty()) {
        std::abort();
    }
    return 0;
}
