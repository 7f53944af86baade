// The field parsers on any bytes: every item is a non-empty run between ";" separators, in
// field order (targets reversed), and folder items are exactly those ending in "*".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/field_parser.h"

using namespace wendrel;

namespace {

std::vector<std::string> pieces(const std::string& field) {
    std::vector<std::string> result;
    std::string piece;
    for (const char c : field) {
        if (c == ';') {
            if (!piece.empty()) {
                result.push_back(piece);
            }
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.empty()) {
        result.push_back(piece);
    }
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string field(reinterpret_cast<const char*>(data), size);
    const auto want = pieces(field);
    if (core::FieldParser::except_names(field) != want) {
        std::abort();
    }
    const auto items = core::FieldParser::source_items(field);
    if (items.size() != want.size()) {
        std::abort();
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::string& text = want[want.size() - 1 - i];
        const bool folder = text.back() == '*';
        if (items[i].folder != folder ||
            items[i].path != (folder ? text.substr(0, text.size() - 1) : text)) {
            std::abort();
        }
    }
    return 0;
}
