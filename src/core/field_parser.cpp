#include "field_parser.h"

namespace wendrel::core {
namespace {

constexpr char kSeparator = ';';
constexpr char kFolderMark = '*';

std::vector<std::string> split_items(std::string_view field) {
    std::vector<std::string> items;
    while (!field.empty()) {
        const auto end = field.find(kSeparator);
        const auto item = field.substr(0, end);
        if (!item.empty()) {
            items.emplace_back(item);
        }
        if (end == std::string_view::npos) {
            break;
        }
        field.remove_prefix(end + 1);
    }
    return items;
}

}  // namespace

std::vector<std::string> FieldParser::except_names(std::string_view field) {
    return split_items(field);
}

std::vector<SourceItem> FieldParser::source_items(std::string_view field) {
    auto texts = split_items(field);
    std::vector<SourceItem> items;
    items.reserve(texts.size());
    for (auto it = texts.rbegin(); it != texts.rend(); ++it) {
        SourceItem item{std::move(*it), false};
        if (item.path.back() == kFolderMark) {
            item.path.pop_back();
            item.folder = true;
        }
        items.push_back(std::move(item));
    }
    return items;
}

}  // namespace wendrel::core
