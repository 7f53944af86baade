#include "core/entry_prefilter.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "prefilter_check.h"

namespace wendrel::test {

using core::Entry;
using core::EntryPrefilter;
using core::MatchOptions;
using Matcher = EntryPrefilter::Matcher;

class EntryPrefilterTest : public ::testing::TestWithParam<Matcher> {};

INSTANTIATE_TEST_SUITE_P(BothMatchers, EntryPrefilterTest,
                         ::testing::Values(Matcher::vectorscan, Matcher::own),
                         [](const auto& info) {
                             return info.param == Matcher::vectorscan ? "vectorscan" : "own";
                         });

static std::string flags(const std::vector<bool>& bits) {
    std::string out;
    for (const bool bit : bits) {
        out += bit ? '1' : '0';
    }
    return out;
}

TEST_P(EntryPrefilterTest, HandCasesPinTheRules) {
    constexpr MatchOptions kCase{false, true}, kFold{false, false}, kWordCase{true, true};
    // text, its pieces, entries, options, occurs, may_apply (one digit per entry)
    // clang-format off
    const std::tuple<std::string, std::vector<std::size_t>, std::vector<Entry>, MatchOptions,
                     std::string, std::string> rows[] = {
        // A match across pieces, also one byte at a time; a near miss is no match.
        {"xcatx", {2, 3}, {{"cat", "-"}, {"cax", "-"}}, kCase, "10", "10"},
        {"xcatx", {1}, {{"cat", "-"}, {"xcat", "-"}}, kCase, "11", "11"},
        // The word rule with the neighbour byte in another piece, or at either end.
        {"cats", {3, 1}, {{"cat", "-"}}, kWordCase, "0", "0"},
        {"scat", {1, 1, 2}, {{"cat", "-"}}, kWordCase, "0", "0"},
        {"cat.", {3, 1}, {{"cat", "-"}}, kWordCase, "1", "1"},
        {"cat", {1}, {{"cat", "-"}}, kWordCase, "1", "1"},
        // Case folds A to Z only, and only when case does not matter.
        {"CaT", {2}, {{"cAt", "-"}}, kFold, "1", "1"},
        {"CaT", {2}, {{"cAt", "-"}}, kCase, "0", "0"},
        {"\xC9", {1}, {{"\xE9", "-"}, {"@", "-"}}, kFold, "00", "00"},
        // Only through an earlier replacement; a replacement with no byte of the find text
        // cannot bring it, but an empty one can join its neighbours into it.
        {"ab", {1}, {{"a", "x"}, {"xb", "y"}}, kCase, "10", "11"},
        {"ab", {1}, {{"a", "q"}, {"xb", "y"}}, kCase, "10", "10"},
        {"aXb", {1}, {{"X", ""}, {"ab", "y"}}, kCase, "10", "11"},
        {"AB", {1}, {{"a", "X"}, {"xb", "y"}}, kFold, "10", "11"},
        // Only through a word boundary that an earlier replacement makes.
        {"x-cat", {2}, {{"x", "1"}, {"-cat", "dog"}}, kWordCase, "10", "11"},
        {"x-cat", {2}, {{"z", "1"}, {"-cat", "dog"}}, kWordCase, "00", "00"},
        // Empty and repeated find texts; entries that cannot apply when none before them can.
        {"aa", {1}, {{"", "a"}, {"a", "b"}, {"a", "c"}, {"b", "d"}}, kCase, "0110", "0111"},
        {"zz", {1}, {{"", "a"}, {"a", "b"}}, kCase, "00", "00"}};
    // clang-format on
    for (const auto& [text, pieces, entries, options, occurs, may_apply] : rows) {
        const EntryPrefilter filter(entries, options, GetParam());
        EXPECT_EQ(filter.matcher(), GetParam()) << text;
        EntryPrefilter::Scan scan(filter);
        for (std::size_t at = 0, k = 0; at < text.size(); at += pieces[k++ % pieces.size()]) {
            scan.feed(std::string_view(text).substr(at, pieces[k % pieces.size()]));
        }
        scan.finish();
        EXPECT_EQ(flags(scan.occurs()), occurs) << text;
        EXPECT_EQ(flags(scan.may_apply()), may_apply) << text;
        EXPECT_EQ(scan.any_may_apply(), may_apply.find('1') != std::string::npos) << text;
    }
}

static std::string random_text(std::mt19937& rng, std::size_t max_length,
                               const std::string& alphabet = "aaAbbB -.") {
    std::string text(rng() % (max_length + 1), ' ');
    for (char& c : text) {
        c = alphabet[rng() % alphabet.size()];
    }
    return text;
}

// Small alphabets, so that matches, near misses, case variants and word edges are common; some
// texts are long, with only some of the bytes in the middle, so that the own matcher's window
// moves on while find texts are still being looked for.
TEST_P(EntryPrefilterTest, AgreesWithTheModelOnRandomInput) {
    std::mt19937 rng(20261207);
    for (int round = 0; round < 6000; ++round) {
        std::vector<Entry> entries(1 + rng() % 12);
        // In some rounds every find text is long enough for the own matcher to skip ahead.
        const std::size_t least = round % 3 == 0 ? 3 + rng() % 4 : 0;
        for (std::size_t k = 0; k < entries.size(); ++k) {
            const bool repeat = k > 0 && rng() % 4 == 0;
            entries[k].find = repeat ? entries[rng() % k].find : random_text(rng, 4 + least);
            while (entries[k].find.size() < least) {
                entries[k].find = random_text(rng, 4 + least);
            }
            entries[k].replace = random_text(rng, 3);
        }
        std::string text = random_text(rng, 40);
        if (round % 200 == 0) {
            text += random_text(rng, 140'000, "aA -") + random_text(rng, 40);
        }
        const std::vector<std::size_t> pieces = {1 + rng() % 9,
                                                 1 + rng() % (rng() % 2 ? 3 : 90'000)};
        const MatchOptions options{rng() % 2 == 0, rng() % 2 == 0};
        ASSERT_EQ(wrong_prefilter(entries, text, options, GetParam(), pieces), "")
            << ::testing::PrintToString(std::tuple(text, options.whole_word, options.match_case))
            << ::testing::PrintToString(entries.size());
    }
}

}  // namespace wendrel::test
