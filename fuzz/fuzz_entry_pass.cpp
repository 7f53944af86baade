// The entry pass, its planning form and its streamed form, against the literal reference model, on
// any bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "entry_pass_forms.h"

using namespace wendrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    // Byte 0: options and piece size; byte 1: find length; byte 2: replacement length and window;
    // then find, replacement and the content. Lengths are kept small so that matches are likely.
    const core::MatchOptions options{(data[0] & 1) != 0, (data[0] & 2) != 0};
    const std::string rest(reinterpret_cast<const char*>(data) + 3, size - 3);
    const std::size_t find_size = std::min<std::size_t>(data[1] % 5, rest.size());
    const core::Entry entry{
        rest.substr(0, find_size),
        rest.substr(find_size, std::min<std::size_t>(data[2] % 9, rest.size() - find_size))};
    // At most 512 bytes: the model rebuilds the text per replacement.
    const std::string content = rest.substr(find_size + entry.replace.size(), 512);
    static core::EntryPass pass;  // reused, as a job reuses it
    const auto want = test::model_entry_pass(content, entry, options);
    if (!test::wrong_forms(pass, content, entry, options, want, data[2] % 64, 1 + data[0] / 4 % 16)
             .empty()) {
        std::abort();
    }
    return 0;
}
