// The entry pass, its planning form and its streamed form, against the literal reference model, on
// any bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/entry_pass.h"
#include "core/spliced_text.h"
#include "reference_model.h"

using namespace wendrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    // Byte 0: options; byte 1: find length; byte 2: replacement length; then find,
    // replacement and the content. Lengths are kept small so that matches are likely.
    const core::MatchOptions options{(data[0] & 1) != 0, (data[0] & 2) != 0};
    std::string rest(reinterpret_cast<const char*>(data) + 3, size - 3);
    const std::size_t find_size = std::min<std::size_t>(data[1] % 5, rest.size());
    const core::Entry entry{
        rest.substr(0, find_size),
        rest.substr(find_size, std::min<std::size_t>(data[2] % 9, rest.size() - find_size))};
    std::string content = rest.substr(find_size + entry.replace.size());
    if (content.size() > 512) {
        content.resize(512);  // the model rebuilds the text per replacement
    }
    const auto want = test::model_entry_pass(content, entry, options);
    static core::EntryPass pass;  // reused, as a job reuses it
    std::vector<core::Splice> runs;
    const auto planned = pass.plan(content, entry, options, runs);
    if (planned && (*planned != want.replacements ||
                    core::SplicedText(content, entry.replace, runs).joined() != want.content)) {
        std::abort();
    }
    // The pass made while reading the content in pieces, through a small window, must
    // write the same text.
    std::size_t at = 0;
    const std::size_t piece = 1 + data[0] / 4 % 16;
    const auto read = [&](char* buffer, std::size_t room) -> long {
        const std::size_t n = std::min({room, piece, content.size() - at});
        std::memcpy(buffer, content.data() + at, n);
        at += n;
        return static_cast<long>(n);
    };
    std::string written;
    const core::EntryPass::Writer write = [&](std::string_view part) {
        written.append(part);
        return 0;
    };
    const auto streamed =
        core::EntryPass::stream(content.size(), read, entry, options, &write, data[2] % 64);
    if (streamed.error != 0 || streamed.count != want.replacements || written != want.content ||
        streamed.changes != (want.content != content)) {
        std::abort();
    }
    const std::size_t count = pass.apply(content, entry, options);
    if (content != want.content || count != want.replacements) {
        std::abort();
    }
    return 0;
}
