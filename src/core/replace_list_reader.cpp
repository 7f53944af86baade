#include "replace_list_reader.h"

#include <fcntl.h>

#include "file_store.h"
#include "file_system.h"

namespace wendrel::core {

std::vector<Entry> ReplaceListReader::parse(std::string_view bytes) {
    constexpr char kSeparator = '|';
    std::vector<Entry> entries;
    std::size_t at = 0;
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
    while (at < bytes.size()) {
        Entry entry;
        if (!read_text(entry.find) || !read_text(entry.replace)) {
            break;  // a record cut short by the end of the file is dropped
        }
        entries.push_back(std::move(entry));
        // A lone LF ends the record; anything else is a two-byte line break, unexamined.
        at += (at < bytes.size() && bytes[at] == '\n') ? 1 : 2;
    }
    return entries;
}

int ReplaceListReader::read(FileSystem& fs, const std::string& path, std::vector<Entry>& entries) {
    LoadedFile file;
    if (const int error = FileStore(fs).load(path, file)) {
        return error;
    }
    entries = parse(file.content);
    return 0;
}

}  // namespace wendrel::core
