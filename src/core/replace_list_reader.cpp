#include "replace_list_reader.h"

#include <fcntl.h>

#include <algorithm>
#include <map>
#include <utility>

#include "encoding_sniffer.h"
#include "failure_reason.h"
#include "file_store.h"
#include "file_system.h"
#include "transcoder.h"
#include "utf8_validator.h"

namespace wendrel::core {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

bool is_line_break(char c) {
    return c == '\n' || c == '\r';
}

// A byte-order mark of UTF-16, or the NULs that ASCII text in UTF-16 has at every other byte.
bool looks_utf16(std::string_view bytes) {
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
        return true;
    }
    const std::string_view head = bytes.substr(0, 256);
    std::size_t even = 0, odd = 0;
    for (std::size_t i = 0; i < head.size(); ++i) {
        (i % 2 == 0 ? even : odd) += head[i] == '\0';
    }
    return head.size() >= 4 && std::max(even, odd) * 4 >= head.size() && std::min(even, odd) == 0;
}

// Line numbers of byte positions: LF, CR LF and a lone CR each end a line.
class Lines {
  public:
    explicit Lines(std::string_view bytes) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] == '\n' ||
                (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n'))) {
                ends_.push_back(i);
            }
        }
    }
    std::size_t of(std::size_t at) const {
        return static_cast<std::size_t>(std::lower_bound(ends_.begin(), ends_.end(), at) -
                                        ends_.begin()) +
               1;
    }

  private:
    std::vector<std::size_t> ends_;  // position of the last byte of each line break
};

}  // namespace

std::vector<Entry> ReplaceListReader::parse(std::string_view bytes,
                                            std::vector<RulesWarning>* warnings) {
    constexpr char kSeparator = '|';
    std::vector<RulesWarning> found;
    const std::size_t start = bytes.starts_with(kUtf8Mark) ? kUtf8Mark.size() : 0;
    const Lines lines(bytes);
    std::vector<Entry> entries;
    std::map<std::string, std::size_t> first_line;  // of each find text
    std::size_t at = start;
    // Reads up to the next separator; false when the bytes ran out first.
    auto read_text = [&](std::string& text) {
        const auto end = bytes.find(kSeparator, at);
        if (end == std::string_view::npos) {
            at = bytes.size();
            return false;
        }
        text.assign(bytes.substr(at, end - at));
        at = end + 1;
        return true;
    };
    const auto warn = [&](RulesWarning::Kind kind, std::size_t line, std::size_t earlier = 0) {
        found.push_back({kind, line, earlier});
    };
    bool stray_text = false;  // the last record's line went on after its second "|"
    while (at < bytes.size()) {
        const std::size_t record_at = at;
        Entry entry;
        if (!read_text(entry.find) || !read_text(entry.replace)) {
            warn(RulesWarning::Kind::cut_short, lines.of(record_at));
            break;  // a record cut short by the end of the file is dropped
        }
        // The line the record's own text starts on, past any line breaks it took in first.
        const auto lead = std::find_if_not(entry.find.begin(), entry.find.end(), is_line_break);
        const std::size_t line = lines.of(record_at + (lead - entry.find.begin()));
        if (lead != entry.find.begin() && !std::exchange(stray_text, false)) {
            warn(RulesWarning::Kind::blank_line, lines.of(record_at));
        }
        if (std::any_of(lead, entry.find.end(), is_line_break)) {
            warn(RulesWarning::Kind::line_without_bar, line);
        }
        if (std::any_of(entry.replace.begin(), entry.replace.end(), is_line_break)) {
            warn(RulesWarning::Kind::replacement_spans_lines, line);
        }
        if (entry.find.empty()) {
            warn(RulesWarning::Kind::empty_find, line);
        } else if (const auto [earlier, added] = first_line.emplace(entry.find, line); !added) {
            warn(RulesWarning::Kind::repeated_find, line, earlier->second);
        }
        entries.push_back(std::move(entry));
        // A lone LF or CR ends the record; anything else is a two-byte line break, unexamined.
        const std::string_view rest = bytes.substr(at, 2);
        if (!rest.empty() && (rest[0] == '\n' || (rest[0] == '\r' && rest != "\r\n"))) {
            at += 1;
        } else {
            if (!rest.empty() && rest != "\r\n") {
                warn(RulesWarning::Kind::text_after_record, lines.of(at));
                stray_text = true;
            }
            at += 2;
        }
    }
    if (entries.empty()) {
        warn(RulesWarning::Kind::no_record, 0);
    }
    if (warnings != nullptr) {
        *warnings = std::move(found);
    }
    return entries;
}

int ReplaceListReader::read(FileSystem& fs, const std::string& path, const std::string& encoding,
                            RulesText& rules, std::vector<RulesWarning>* warnings) {
    LoadedFile file;
    if (const int error = FileStore(fs).load(path, file)) {
        return error;
    }
    if (encoding.empty()) {
        rules.encoding = EncodingSniffer::of(file.content);
    } else if (TextEncoding::names_utf8(encoding)) {
        rules.encoding = {TextEncoding::Kind::utf8, {}, 0};
        Utf8Validator check;
        if (!check.feed(file.content) || !check.finish()) {
            return failure::kNotInEncoding;
        }
    } else {
        rules.encoding = {TextEncoding::Kind::decoded, encoding, 0};
    }
    if (rules.encoding.kind != TextEncoding::Kind::decoded && looks_utf16(file.content)) {
        return failure::kRulesFileUtf16;  // ASCII in UTF-16 is also valid UTF-8, NULs and all
    }
    switch (rules.encoding.kind) {
        case TextEncoding::Kind::bytes:
            rules.entries = parse(file.content, warnings);
            rules.text.reset();
            return 0;
        case TextEncoding::Kind::utf8:
            rules.entries = parse(file.content, warnings);
            rules.text = rules.entries;
            return 0;
        case TextEncoding::Kind::decoded:
            break;
    }
    const std::string& name = rules.encoding.name;
    Transcoder decode(name, "UTF-8");
    if (!decode.ok()) {
        return failure::kUnknownEncoding;
    }
    std::string text;
    if (decode.convert_whole(std::string_view(file.content).substr(rules.encoding.bom), text)) {
        return failure::kNotInEncoding;
    }
    rules.text = parse(text, warnings);
    rules.entries = *rules.text;
    if (!TextEncoding::ascii_compatible(name)) {
        return 0;  // its own bytes would never match a file read as bytes
    }
    // Each entry back in the file's own bytes, for files whose encoding is not known.
    Transcoder encode("UTF-8", name);
    for (Entry& entry : rules.entries) {
        std::string find, replace;
        if (encode.convert_whole(entry.find, find) == 0 &&
            encode.convert_whole(entry.replace, replace) == 0) {
            entry = {std::move(find), std::move(replace)};
        }
    }
    return 0;
}

}  // namespace wendrel::core
