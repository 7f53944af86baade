#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "core/entry.h"
#include "core/match_options.h"

// Slow, literal versions of two rule sets of the job, naive enough to be checked by reading.
namespace wendrel::test {

inline std::string ascii_lower(std::string text) {
    for (char& c : text) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return text;
}

// Only the ASCII letters; `inside` false stands for a position past either end of the text.
inline bool ascii_letter(const std::string& text, std::size_t i, bool inside) {
    const auto code = inside ? static_cast<unsigned char>(text[i]) : 0;
    return (code >= 65 && code <= 90) || (code >= 97 && code <= 122);
}

struct ModelPassResult {
    std::string content;
    std::size_t replacements = 0;
};

/// One entry pass: each position of the text as it stood before the pass is tried in turn,
/// and a replaced occurrence is stepped over whole.
inline ModelPassResult model_entry_pass(const std::string& content, const core::Entry& entry,
                                        core::MatchOptions options) {
    const std::string& find = entry.find;
    const std::size_t n = find.size();
    ModelPassResult result;
    for (std::size_t pos = 0; pos < content.size();) {
        const std::string candidate = content.substr(pos, n);
        const bool replace =
            n > 0 && candidate.size() == n &&               // an empty find never matches,
            ascii_lower(candidate) == ascii_lower(find) &&  // equal but for letter case,
            (!options.match_case || candidate == find) &&   // exactly equal when case matters,
            (!options.whole_word ||  // no letter of `content` (never the result) on either side
             (!ascii_letter(content, pos - 1, pos > 0) &&
              !ascii_letter(content, pos + n, pos + n < content.size())));
        if (replace) {
            result.content += entry.replace;
            ++result.replacements;
            pos += n;
        } else {
            result.content += content[pos++];
        }
    }
    return result;
}

/// The rules file read one character at a time.
inline std::vector<core::Entry> model_read_records(const std::string& bytes) {
    std::vector<core::Entry> entries;
    std::size_t pos = bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;  // a UTF-8 mark is no text
    // Reads up to and including the next "|"; tells whether the "|" was there.
    const auto read_text = [&](std::string& text) {
        while (pos < bytes.size()) {
            if (const char c = bytes[pos++]; c != '|') {
                text += c;
            } else {
                return true;
            }
        }
        return false;
    };
    while (pos < bytes.size()) {
        core::Entry entry;
        read_text(entry.find);
        if (read_text(entry.replace)) {
            entries.push_back(entry);
        }
        // Two characters are skipped unexamined, except that a lone LF or CR ends the record.
        const bool lone =
            pos < bytes.size() &&
            (bytes[pos] == '\n' ||
             (bytes[pos] == '\r' && (pos + 1 == bytes.size() || bytes[pos + 1] != '\n')));
        pos = std::min(pos + (lone ? 1 : 2), bytes.size());
    }
    return entries;
}

}  // namespace wendrel::test
