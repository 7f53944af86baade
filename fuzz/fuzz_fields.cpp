// The field parsers on any bytes: every item is a non-empty run between ";" separators, in
// field order (targets reversed), and folder items are exactly those ending in "*".
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/field_parser.h"

using namespace wendrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string field(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> want;  // the non-empty runs between ";"
    for (std::size_t from = 0, end; from <= field.size(); from = end + 1) {
        end = std::min(field.find(';', from), field.size());
        if (end > from) {
            want.push_back(field.substr(from, end - from));
        }
    }
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
