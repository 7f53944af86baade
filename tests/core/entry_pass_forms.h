#pragma once

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/entry_pass.h"
#include "reference_model.h"

// Shared by the entry-pass tests and its fuzzer, so that both hold every form to the same rule.
namespace wendrel::test {

/// Hands out `content` in pieces of at most `piece` bytes; fails with EIO from byte `fail_at`.
inline core::EntryPass::Reader reader_of(const std::string& content, std::size_t piece,
                                         std::size_t fail_at = std::string::npos) {
    auto at = std::make_shared<std::size_t>(0);
    return [&content, piece, fail_at, at](char* buffer, std::size_t size) -> long {
        if (*at >= fail_at) {
            return -EIO;
        }
        const std::size_t n = std::min({size, piece, content.size() - *at});
        std::memcpy(buffer, content.data() + *at, n);
        *at += n;
        return static_cast<long>(n);
    };
}

/// Empty when every form of the pass gives the model's result: in memory, the plan (unless it
/// gives up on dense matches), and streamed, counting and writing, in pieces of up to `piece`
/// through `window`; else a line for each form that gave something else.
inline std::string wrong_forms(core::EntryPass& pass, const std::string& content,
                               const core::Entry& entry, core::MatchOptions options,
                               const ModelPassResult& want, std::size_t window, std::size_t piece) {
    std::string wrong;
    const auto check = [&](const char* form, std::size_t count, const std::string& text,
                           bool rest_right = true) {
        if (!rest_right || count != want.replacements || text != want.content) {
            wrong += std::string(form) + " gave " + std::to_string(count) + " \"" + text + "\"\n";
        }
    };
    std::string text = content;
    check("apply", pass.apply(text, entry, options), text);
    std::vector<core::Splice> runs;
    if (const auto count = pass.plan(content, entry, options, runs)) {
        check("plan", *count, core::SplicedText(content, entry.replace, runs).joined());
    }
    std::string written;
    const core::EntryPass::Writer write = [&](std::string_view part) {
        written.append(part);
        return 0;
    };
    for (const auto* sink : {static_cast<const core::EntryPass::Writer*>(nullptr), &write}) {
        const auto got = core::EntryPass::stream(content.size(), reader_of(content, piece), entry,
                                                 options, sink, window);
        check(sink ? "stream" : "count", got.count, sink ? written : want.content,
              got.error == 0 && got.changes == (want.content != content));
    }
    return wrong.empty() ? wrong
                         : wrong + "window " + std::to_string(window) + ", pieces of " +
                               std::to_string(piece) + "; expected " +
                               std::to_string(want.replacements) + " \"" + want.content + "\"";
}

}  // namespace wendrel::test
