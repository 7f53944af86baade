#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace wendrel::core {

/// One item of the target field: a file path, or a folder whose files are all taken.
struct SourceItem {
    std::string path;  // the folder path without its "*" mark for a folder item
    bool folder = false;

    bool operator==(const SourceItem&) const = default;
};

/// Splits the two path fields. Items are separated by ";"; a final item without its ";" is
/// still an item, and empty items (";;", a leading ";") are ignored.
class FieldParser {
  public:
    /// Names to leave out, in field order, exactly as written.
    static std::vector<std::string> except_names(std::string_view field);
    /// Target items in the order the job takes them: the last item of the field first.
    /// An item whose last character is "*" is a folder item.
    static std::vector<SourceItem> source_items(std::string_view field);
};

}  // namespace wendrel::core
