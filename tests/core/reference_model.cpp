#include "reference_model.h"

namespace wendrel::test {

namespace {

std::string lower_case(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

bool is_word_char(char c) {
    const auto code = static_cast<unsigned char>(c);
    return (code >= 65 && code <= 90) || (code >= 97 && code <= 122);
}

// Character at 1-based position `pos` of `text`.
char at(const std::string& text, std::size_t pos) {
    return text[pos - 1];
}

}  // namespace

ModelPassResult model_entry_pass(const std::string& content, const core::Entry& entry,
                                 core::MatchOptions options) {
    const std::string& find = entry.find;
    const std::size_t n = find.size();
    if (n == 0) {
        return {content, 0};  // an empty find text never matches
    }
    std::string text = " " + content + " ";
    std::size_t replacements = 0;
    // The last start position is fixed before the scan, whatever the replacements do later.
    const long last = static_cast<long>(text.size()) - static_cast<long>(n);
    for (long pos = 2; pos <= last; ++pos) {
        const auto i = static_cast<std::size_t>(pos);
        const std::string candidate = i <= text.size() ? text.substr(i - 1, n) : std::string();
        if (lower_case(candidate) != lower_case(find)) {
            continue;
        }
        if (options.match_case && candidate != find) {
            continue;
        }
        if (i + n > text.size()) {
            continue;  // no character follows the candidate
        }
        if (options.whole_word &&
            (is_word_char(at(text, i - 1)) || is_word_char(at(text, i + n)))) {
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
    const auto chars_left = [&] { return pos < bytes.size(); };
    // Reads up to and including the next "|"; tells whether the "|" was there.
    const auto read_text = [&](std::string& text) {
        while (chars_left()) {
            const char c = bytes[pos++];
            if (c == '|') {
                return true;
            }
            text += c;
        }
        return false;
    };
    while (chars_left()) {
        core::Entry entry;
        read_text(entry.find);
        if (read_text(entry.replace)) {
            entries.push_back(entry);
        }
        const std::size_t skip = chars_left() && bytes[pos] == '\n' ? 1 : 2;
        pos = pos + skip < bytes.size() ? pos + skip : bytes.size();
    }
    return entries;
}

}  // namespace wendrel::test
