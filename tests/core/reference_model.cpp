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
    // Every test reads `content`, never the result; the ends count as non-letters.
    const auto letter_at = [&](std::size_t i, bool inside) {
        return inside && is_word_char(content[i]);
    };
    ModelPassResult result;
    std::size_t pos = 0;
    while (pos < content.size()) {
        const std::string candidate = content.substr(pos, n);
        const bool replace =
            n > 0 && candidate.size() == n &&              // an empty find never matches,
            lower_case(candidate) == lower_case(find) &&   // equal but for letter case,
            (!options.match_case || candidate == find) &&  // exactly equal when case matters,
            (!options.whole_word ||                        // no letter on either side
             (!letter_at(pos - 1, pos > 0) && !letter_at(pos + n, pos + n < content.size())));
        if (replace) {
            result.content += entry.replace;
            ++result.replacements;
            pos += n;
        } else {
            result.content += content[pos];
            ++pos;
        }
    }
    return result;
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
