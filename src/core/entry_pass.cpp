#include "entry_pass.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

#include "large_buffer.h"
#include "scanner.h"

namespace wendrel::core {
namespace {

// Calls `on_match(at)` for each occurrence in a text held whole, first to last, while it
// gives true.
template <typename OnMatch>
void each_occurrence(const std::string& text, const Entry& entry, MatchOptions options,
                     OnMatch on_match) {
    Scanner scanner(entry.find, options);
    const TextWindow whole{text.data(), 0, text.size(), true};
    for (std::size_t from = 0, at; (at = scanner.next(whole, from)) != Scanner::npos;
         from = at + entry.find.size()) {
        if (!on_match(at)) {
            return;
        }
    }
}

}  // namespace

std::size_t EntryPass::apply(std::string& text, const Entry& entry, MatchOptions options,
                             std::size_t most) {
    const std::size_t n = entry.find.size();
    std::size_t done = 0;  // bytes of `text` dealt with
    std::size_t count = 0;
    // A short find text replaced by a long one can multiply the text's size: the result is
    // checked as it grows, before it takes the memory it would need.
    const auto check_room = [&](std::size_t more) {
        if (more > most || out_.size() > most - more) {
            out_.clear();
            throw std::length_error("the result of the pass is too long");
        }
    };
    each_occurrence(text, entry, options, [&](std::size_t at) {
        if (count++ == 0) {
            out_.clear();
            reserve_large(out_,
                          std::min(most, text.size() + (entry.replace.size() > n ? 4096 : 0)));
        }
        check_room(at - done + entry.replace.size());
        out_.append(text, done, at - done);
        out_.append(entry.replace);
        done = at + n;
        return true;
    });
    if (count > 0) {
        check_room(text.size() - done);
        out_.append(text, done, std::string::npos);
        text.swap(out_);
    }
    return count;
}

}  // namespace wendrel::core
