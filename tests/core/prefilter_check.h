#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/entry_prefilter.h"
#include "reference_model.h"

namespace wendrel::test {

/// Scans `text` fed in pieces of the sizes in `pieces` (in turn, over and over) and holds the
/// answers against the literal model applying the entries in order. Gives what is wrong, or "".
inline std::string wrong_prefilter(const std::vector<core::Entry>& entries, const std::string& text,
                                   core::MatchOptions options,
                                   core::EntryPrefilter::Matcher matcher,
                                   const std::vector<std::size_t>& pieces) {
    const core::EntryPrefilter filter(entries, options, matcher);
    core::EntryPrefilter::Scan scan(filter);
    for (std::size_t at = 0, k = 0; at < text.size(); ++k) {
        const std::size_t size = pieces[k % pieces.size()];
        scan.feed(std::string_view(text).substr(at, size));
        at += size;
    }
    scan.finish();
    if (scan.occurs().size() != entries.size() || scan.may_apply().size() != entries.size()) {
        return "one flag per entry";
    }
    // Entries that keep multiplying the text would take the model too long: past this size the
    // rest of the chain is not modelled, and only occurs() is held against the model.
    constexpr std::size_t kMostModelled = std::size_t{1} << 18;
    std::string current = text;
    bool any = false;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        if (scan.occurs()[k] != (model_entry_pass(text, entries[k], options).replacements > 0)) {
            return "occurs of entry " + std::to_string(k);
        }
        if (current.size() <= kMostModelled) {
            ModelPassResult applied = model_entry_pass(current, entries[k], options);
            if (applied.replacements > 0 && !scan.may_apply()[k]) {
                return "may_apply of entry " + std::to_string(k);
            }
            current = std::move(applied.content);
        }
        any = any || scan.may_apply()[k];
    }
    return any == scan.any_may_apply() ? "" : "any_may_apply";
}

}  // namespace wendrel::test
