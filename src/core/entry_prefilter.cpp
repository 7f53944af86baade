#include "entry_prefilter.h"

#include <algorithm>

#include "scanner.h"

namespace wendrel::core {

EntryPrefilter::EntryPrefilter(const std::vector<Entry>& entries, MatchOptions options)
    : entries_(entries), options_(options) {}
EntryPrefilter::~EntryPrefilter() = default;
EntryPrefilter::Scan::Scan(const EntryPrefilter& filter) : filter_(filter) {}
EntryPrefilter::Scan::~Scan() = default;
void EntryPrefilter::Scan::feed(std::string_view piece) {
    text_.append(piece);
}
void EntryPrefilter::Scan::finish() {
    may_.assign(filter_.entries_.size(), false);
    bool earlier = false;
    for (std::size_t k = 0; k < may_.size(); ++k) {
        if (filter_.entries_[k].find.empty()) {
            continue;
        }
        Scanner scanner(filter_.entries_[k].find, filter_.options_);
        may_[k] =
            earlier || scanner.next({text_.data(), 0, text_.size(), true}, 0) != Scanner::npos;
        earlier = earlier || may_[k];
    }
}
bool EntryPrefilter::Scan::any_may_apply() const {
    return std::ranges::find(may_, true) != may_.end();
}

}  // namespace wendrel::core
