#include "core/entry_pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <stdexcept>
#include <tuple>

#include "entry_pass_forms.h"

namespace wendrel::test {

using core::Entry;
using core::EntryPass;
using core::MatchOptions;

constexpr MatchOptions kOff{false, false}, kWhole{true, false}, kCase{false, true};

// The case as a test prints it when a form goes wrong.
static std::string case_of(const std::string& content, const std::vector<Entry>& entries,
                           MatchOptions options) {
    std::string text = ::testing::PrintToString(content);
    for (const Entry& entry : entries) {
        text += " " + ::testing::PrintToString(std::tuple(entry.find, entry.replace));
    }
    return text + (options.whole_word ? " whole" : "") + (options.match_case ? " case" : "");
}

TEST(EntryPass, ScanCasesGiveTheRuleResult) {
    // content, entries applied in turn, options, result, replacements of the last entry
    // clang-format off
    const std::tuple<std::string, std::vector<Entry>, MatchOptions, std::string, std::size_t> rows[] = {
        // Every occurrence, left to right, going on after the replaced one, never inside it (the
        // random cases below hold the rest of the rules).
        {"aaaa", {{"aa", "b"}}, kOff, "bb", 2},     {"a a", {{"a", "xyz"}}, kOff, "xyz xyz", 2},
        {"ab ab ab ab", {{"ab", "abcdef"}}, kCase, "abcdef abcdef abcdef abcdef", 4},
        {"typedef unsigned int X;", {{"int ", "long long int "}}, kCase,
         "typedef unsigned long long int X;", 1},
        // The whole-word test reads the text as it stood, not what a replacement put beside it.
        {"catcat", {{"cat", "."}}, kWhole, "catcat", 0}, {"a-a", {{"a", "bb"}}, kWhole, "bb-bb", 2},
        // Case folding touches only A to Z, in a find text with letters too.
        {"Az aZ @[`{", {{"az", "-"}}, kOff, "- - @[`{", 2},
        {"a\xC9 a\xE9", {{"A\xE9", "x"}}, kOff, "a\xC9 x", 1},
        {std::string("a\0b", 3), {{std::string(1, '\0'), "-"}}, kCase, "a-b", 1},
        // Later entries work on the output of earlier ones, and may undo them.
        {"cat", {{"cat", "dog"}, {"dog", "cow"}}, kCase, "cow", 1},
        {"a cat", {{"cat", "dog"}, {"dog", "cat"}}, kCase, "a cat", 1},
        {"aaaa", {{"a", "bb"}, {"bbb", "c"}, {"", "x"}, {"cb", "a"}}, kCase, "cab", 1}};
    // clang-format on
    EntryPass pass;
    for (const auto& [content, entries, options, expected, replacements] : rows) {
        std::string text = content;
        for (std::size_t k = 0; k + 1 < entries.size(); ++k) {
            pass.apply(text, entries[k], options);
        }
        const ModelPassResult model = model_entry_pass(text, entries.back(), options);
        EXPECT_EQ(std::tie(model.content, model.replacements), std::tie(expected, replacements))
            << ::testing::PrintToString(content);
        for (const std::size_t piece : {1u, 3u, 100u}) {
            EXPECT_EQ(wrong_forms(pass, content, entries, options, piece * 2, piece, ~0u), "")
                << case_of(content, entries, options);
        }
    }
}

static std::string random_text(std::mt19937& rng, std::size_t max_length,
                               const std::string& alphabet = "aaaAAbbzZ _1@[`{\xE9") {
    std::string text(rng() % (max_length + 1), ' ');
    for (char& c : text) {
        c = alphabet[rng() % alphabet.size()];
    }
    return text;
}

// Up to six entries in a row on one text, with one EntryPass for every case, as in a job.
TEST(EntryPass, AgreesWithTheLiteralRulesOnRandomInput) {
    // seed, cases, longest text, longest replacement, letters (the last: many false starts, so
    // that the search changes its method midway)
    for (const auto& [seed, cases, max_text, max_replace, letters] :
         {std::tuple{20240611u, 20000, 12u, 8u, "aaaAAbbzZ _1@[`{\xE9"},
          {99u, 2000, 300u, 40u, "aaaAAbbzZ _1@[`{\xE9"},
          {7u, 60, 40'000u, 8u, "abbbbbbbb "}}) {
        std::mt19937 rng(seed);
        EntryPass pass;
        for (int i = 0; i < cases; ++i) {
            const std::string text = random_text(rng, max_text, letters);
            const MatchOptions options{(rng() & 1) != 0, (rng() & 2) != 0};
            std::vector<Entry> entries(1 + rng() % 6);
            for (Entry& entry : entries) {
                const std::string find = random_text(rng, 3, letters);
                const std::string more = random_text(rng, max_replace, letters);
                entry = {find, rng() % 4 == 0 ? "" : rng() % 3 == 0 ? find + more : more};
            }
            ASSERT_EQ(wrong_forms(pass, text, entries, options, rng() % 400, 1 + rng() % 100,
                                  static_cast<unsigned>(rng())),
                      "")
                << case_of(text, entries, options);
        }
    }
}

// A source shorter or longer than it said, a failed read and a failed write stop the chain.
TEST(EntryPass, ChainStopsAtTheFirstFailure) {
    const std::string text = "a cat and a cat";
    const std::size_t n = text.size(), never = std::string::npos;
    // stated size, read failing from byte, write failing, expected error
    for (const auto& [told, fail_at, write_fails, expected] :
         {std::tuple{n + 1, never, false, EAGAIN},
          {n - 1, never, false, EAGAIN},
          {n, 5ul, false, EIO},
          {n, never, true, ENOSPC},
          {n, never, false, 0}}) {
        const core::EntryChain::Writer write = [&](std::string_view) {
            return write_fails ? ENOSPC : 0;
        };
        const std::vector<Entry> entries{{"cat", "dog"}, {"og", "x"}};
        core::EntryChain chain(entries, kCase, {}, 0);
        EXPECT_EQ(expected, chain.run(told, reader_of(text, 3, fail_at), &write).error)
            << "told " << told << ", failing at " << fail_at << ", write fails " << write_fails;
    }
}

// A result that would pass its bound is refused (thrown) before it takes the memory.
TEST(EntryPass, ApplyRefusesAResultLongerThanItsBound) {
    // text, find, replace, bound, result (none: refused)
    for (const auto& [text, find, replace, most, expected] :
         {std::tuple<std::string, std::string, std::string, std::size_t,
                     std::optional<std::string>>{"aaaa", "a", "bbb", 12, "bbbbbbbbbbbb"},
          {"aaaa", "a", "bbb", 11, std::nullopt},
          {"xayyyyyy", "a", "b", 8, "xbyyyyyy"},
          {"xayyyyyy", "a", "bc", 8, std::nullopt},  // passes it only with the tail
          {"abcabc", "c", "", 3, std::nullopt},
          {"aaaa", "z", "", 0, "aaaa"}}) {
        std::string changed = text;
        try {
            EntryPass().apply(changed, {find, replace}, kCase, most);
            EXPECT_EQ(changed, expected.value_or("<refused>")) << text << " bound " << most;
        } catch (const std::length_error&) {
            EXPECT_EQ(changed, expected ? "<not refused>" : text) << text << " bound " << most;
        }
    }
}

}  // namespace wendrel::test
