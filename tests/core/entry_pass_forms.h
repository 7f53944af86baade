#pragma once

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/entry_chain.h"
#include "core/entry_pass.h"
#include "reference_model.h"

// Shared by the entry-pass tests and its fuzzer, so that both hold every form to the same rule.
namespace wendrel::test {

/// Hands out `content` in pieces of at most `piece` bytes (at least 1); fails with EIO from byte
/// `fail_at`.
inline core::EntryChain::Reader reader_of(const std::string& content, std::size_t piece,
                                          std::size_t fail_at = std::string::npos) {
    auto at = std::make_shared<std::size_t>(0);
    return [&content, piece, fail_at, at](char* buffer, std::size_t size) -> long {
        if (*at >= fail_at) {
            return -EIO;
        }
        const std::size_t n =
            std::min({size, std::max<std::size_t>(piece, 1), content.size() - *at});
        std::memcpy(buffer, content.data() + *at, n);
        *at += n;
        return static_cast<long>(n);
    };
}

/// Empty when every form of the entries applied in turn gives the model's result: in memory,
/// and through a chain counting and writing, fed in pieces of up to `piece`, its windows
/// sharing `budget` bytes, with the entries that make no replacement skipped where a bit of
/// `skip_bits` says so; else a line for each form that gave something else.
inline std::string wrong_forms(core::EntryPass& pass, const std::string& content,
                               const std::vector<core::Entry>& entries, core::MatchOptions options,
                               std::size_t budget, std::size_t piece, unsigned skip_bits = 0) {
    ModelPassResult want{content, 0};
    std::vector<std::size_t> counts;
    for (const core::Entry& entry : entries) {
        want = model_entry_pass(want.content, entry, options);
        counts.push_back(want.replacements);
    }
    std::string wrong;
    const auto check = [&](const char* form, const std::vector<std::size_t>& got,
                           const std::string& text, bool rest_right = true) {
        if (!rest_right || got != counts || text != want.content) {
            wrong += std::string(form) + " gave \"" + text + "\"\n";
        }
    };
    std::string text = content;
    std::vector<std::size_t> applied;
    for (const core::Entry& entry : entries) {
        applied.push_back(pass.apply(text, entry, options));
    }
    check("apply", applied, text);
    std::vector<bool> skip;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        skip.push_back(counts[k] == 0 && (skip_bits >> (k % 32) & 1) != 0);
    }
    std::string written;
    const core::EntryChain::Writer write = [&](std::string_view part) {
        written.append(part);
        return 0;
    };
    for (const auto* sink : {static_cast<const core::EntryChain::Writer*>(nullptr), &write}) {
        core::EntryChain chain(entries, options, skip, budget);
        const auto got = chain.run(content.size(), reader_of(content, piece), sink);
        // No changing stage: the text is as it was; one: it is not.
        const bool changes_right = got.changing_stages == 0   ? want.content == content
                                   : got.changing_stages == 1 ? want.content != content
                                                              : true;
        check(sink ? "chain" : "count", got.counts, sink ? written : want.content,
              got.error == 0 && got.size == want.content.size() && changes_right);
    }
    return wrong.empty() ? wrong
                         : wrong + "budget " + std::to_string(budget) + ", pieces of " +
                               std::to_string(piece) + "; expected \"" + want.content + "\"";
}

}  // namespace wendrel::test
