#include "reference_model.h"

#include <algorithm>

namespace wendrel::test {
namespace {

std::string lower_case(std::string text) {
    for (char& c : text) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return text;
}

bool is_word_char(char c) {
    const auto code = static_cast<unsigned char>(c);
    return (code >= 65 && code <= 90) || (code >= 97 && code <= 122);
}

}  // namespace

ModelPassResult model_entry_pass(const std::string& content, const core::Entry& entry,
                                 core::MatchOptions options) {
    const std::string& find = entry.find;
    const std::size_t n = find.size();
    std::string text = " " + content + " ";  // T; position p is text[p - 1]
    std::size_t replacements = 0;
    // The last start position is fixed before the scan, whatever the replacements do later.
    const long last = static_cast<long>(text.size()) - static_cast<long>(n);
    for (long pos = 2; n > 0 && pos <= last; ++pos) {  // an empty find text never matches
        const auto i = static_cast<std::size_t>(pos);
        const std::string candidate = i <= text.size() ? text.substr(i - 1, n) : std::string();
        const bool replace =
            lower_case(candidate) == lower_case(find) &&   // equal but for letter case,
            (!options.match_case || candidate == find) &&  // exactly equal when case matters,
            i + n <= text.size() &&                        // a character follows it,
            (!options.whole_word || (!is_word_char(text[i - 2]) && !is_word_char(text[i + n - 1])));
        if (!replace) {
            continue;
        }
        text = text.substr(0, i - 1) + entry.replace + text.substr(i - 1 + n);
        ++replacements;
    }
    return {text.substr(1, text.size() - 2), replacements};
}

std::vector<core::Entry> model_read_records(const std::string& bytes) {
    std::vector<core::Entry> entries;
    std::size_t pos = 0;
    // Reads up to and including the next "|"; tells whether the "|" was there.
    const auto read_text = [&](std::string& text) {
        while (pos < bytes.size()) {
            const char c = bytes[pos++];
            if (c == '|') {
                return true;
            }
            text += c;
        }
        return false;
    };
    while (pos < bytes.size()) {
        core::Entry entry;
        read_text(entry.find);
        if (read_text(entry.replace)) {
            entries.push_back(entry);
        }
        // Two characters are skipped unexamined, except that a lone LF ends the record.
        const std::size_t skip = pos < bytes.size() && bytes[pos] == '\n' ? 1 : 2;
        pos = std::min(pos + skip, bytes.size());
    }
    return entries;
}

}  // namespace wendrel::test
