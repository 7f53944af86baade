#include "core/entry_pass.h"
#include "core/spliced_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "reference_model.h"

namespace wendrel::test {

using core::Entry;
using core::EntryPass;
using core::MatchOptions;

constexpr MatchOptions kOff{false, false}, kWhole{true, false}, kCase{false, true};

// What a failure shows of a case: content, find text, replacement, whole-word, match-case.
static std::string describe(const std::string& content, const Entry& entry, MatchOptions options) {
    return ::testing::PrintToString(
        std::tuple(content, entry.find, entry.replace, options.whole_word, options.match_case));
}

// The same plan, made while reading the content in pieces of 1 to `piece` bytes through a
// window of `window` bytes (which grows to what the find text needs).
static ::testing::AssertionResult stream_agrees(const std::string& content, const Entry& entry,
                                                MatchOptions options,
                                                const std::optional<std::size_t>& count,
                                                const std::vector<core::Splice>& runs,
                                                std::size_t window, std::size_t piece) {
    std::size_t at = 0;
    const auto read = [&](char* buffer, std::size_t size) -> long {
        const std::size_t n = std::min({size, piece, content.size() - at});
        std::memcpy(buffer, content.data() + at, n);
        at += n;
        return static_cast<long>(n);
    };
    core::StreamPlan streamed;
    const int error =
        EntryPass::plan_stream(content.size(), read, entry, options, streamed, window);
    const bool same = error == 0 && streamed.count == count && at == content.size() &&
                      (!count || streamed.runs == runs);
    const bool changes_right =
        !count || !same ||
        streamed.changes != (core::SplicedText(content, entry.replace, runs).joined() == content);
    if (same && changes_right) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << describe(content, entry, options) << "\n  read in pieces of up to " << piece
           << " through a window of " << window << ": error " << error << ", count "
           << ::testing::PrintToString(streamed.count) << " instead of "
           << ::testing::PrintToString(count) << ", runs "
           << (streamed.runs == runs ? "same" : "differ") << ", changes " << streamed.changes;
}

// The pass that only plans its result must give apply()'s result, or give up; so must the
// plan made while reading the content in pieces.
static ::testing::AssertionResult plan_agrees(EntryPass& pass, const std::string& content,
                                              const Entry& entry, MatchOptions options,
                                              const std::string& expected, std::size_t replacements,
                                              bool& planned) {
    std::vector<core::Splice> runs;
    const auto count = pass.plan(content, entry, options, runs);
    planned = count.has_value();
    static std::mt19937 rng(5);
    const std::size_t window = rng() % 200, piece = 1 + rng() % 100;
    if (auto streamed = stream_agrees(content, entry, options, count, runs, window, piece);
        !streamed) {
        return streamed;
    }
    if (!planned) {
        return ::testing::AssertionSuccess();
    }
    const std::string text = core::SplicedText(content, entry.replace, runs).joined();
    if (*count == replacements && text == expected) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << describe(content, entry, options) << "\n  planned " << ::testing::PrintToString(text)
           << " (" << *count << ")\n  expected " << ::testing::PrintToString(expected) << " ("
           << replacements << ")";
}

TEST(EntryPass, EdgeCasesGiveTheRuleResult) {
    // clang-format off
    const std::tuple<std::string, Entry, MatchOptions, std::string, std::size_t> rows[] = {
        // The scan goes on inside the inserted text up to the last start fixed at the outset.
        {"a b", {"a", "aa"}, kOff, "aaaa b", 3},     {"a b", {"a", "aa"}, kWhole, "aa b", 1},
        {"a a", {"a", "xyz"}, kOff, "xyz a", 1},     {"aaaa", {"aa", "b"}, kOff, "bb", 2},
        {"xa", {"a", "ab"}, kOff, "xab", 1},         {"abc", {"abc", "x"}, kCase, "x", 1},
        {"ab", {"abc", "x"}, kOff, "ab", 0},         {"", {"a", "x"}, kOff, "", 0},
        // After a deletion the byte that moves onto the tested position is passed over.
        {"aaa", {"a", ""}, kOff, "a", 2},            {"a b a", {"a", ""}, kOff, " b ", 2},
        // An empty find text never matches.
        {"ab", {"", "x"}, kOff, "ab", 0},            {"", {"", "x"}, kWhole, "", 0},
        // Only the ASCII letters are word characters; the ends of the text count as spaces.
        {"cat, (cat) cat1 cat_x 2cat @cat` [cat{ \ncat\r \xE9" "cat", {"cat", "dog"}, kWhole,
         "dog, (dog) dog1 dog_x 2dog @dog` [dog{ \ndog\r \xE9" "dog", 9},
        {"cats Tomcat Acat Zcat catz cata", {"cat", "dog"}, {true, true},
         "cats Tomcat Acat Zcat catz cata", 0},
        // Case folding touches only A to Z; the replacement goes in as written.
        {"Cat CAT cat", {"cAT", "Dog"}, kOff, "Dog Dog Dog", 3},
        {"Cat CAT cat", {"cat", "dog"}, kCase, "Cat CAT dog", 1},
        {"\xC9\xE9", {"\xE9", "x"}, kOff, "\xC9x", 1},
        {std::string("a\0b", 3), {std::string(1, '\0'), "-"}, kCase, "a-b", 1},
        // The padding spaces never take part in a match.
        {"x y x", {" x", "Q"}, kOff, "x yQ", 1},     {"x y x", {"x ", "Q"}, kOff, "Qy x", 1}};
    // clang-format on
    EntryPass pass;
    for (const auto& [content, entry, options, expected, replacements] : rows) {
        SCOPED_TRACE(describe(content, entry, options));
        std::string text = content;
        EXPECT_EQ(pass.apply(text, entry, options), replacements);
        EXPECT_EQ(text, expected);
        // The row itself is checked against the literal model, so a wrong row shows up too.
        const ModelPassResult model = model_entry_pass(content, entry, options);
        EXPECT_EQ(model.content, expected);
        EXPECT_EQ(model.replacements, replacements);
        bool planned = false;
        EXPECT_TRUE(plan_agrees(pass, content, entry, options, expected, replacements, planned));
    }
}

// Each insertion pushes the closing space one further right, so every 'a' is replaced.
TEST(EntryPass, DoublesAMillionBytesInOnePass) {
    std::string text(1'000'000, 'a');
    EXPECT_EQ(EntryPass().apply(text, {"a", "aa"}, kCase), 1'000'000u);
    EXPECT_TRUE(text == std::string(2'000'000, 'a'));
}

static std::string random_text(std::mt19937& rng, std::size_t max_length) {
    static const std::string alphabet = "aaaAAbb _1\xE9";
    std::string text(rng() % (max_length + 1), ' ');
    for (char& c : text) {
        c = alphabet[rng() % alphabet.size()];
    }
    return text;
}

// Up to three entries in a row on one text, with one EntryPass for every case, as in a job.
// A quarter of the replacements hold their find text, a quarter are empty.
TEST(EntryPass, AgreesWithTheLiteralRulesOnRandomInput) {
    int plans = 0, give_ups = 0;
    // seed, cases, longest text, longest replacement
    for (const auto& [seed, cases, max_text, max_replace] :
         {std::tuple{20240611u, 30000, 12u, 8u}, std::tuple{99u, 2000, 300u, 40u}}) {
        std::mt19937 rng(seed);
        EntryPass pass;
        for (int i = 0; i < cases; ++i) {
            std::string text = random_text(rng, max_text);
            const MatchOptions options{(rng() & 1) != 0, (rng() & 2) != 0};
            // The model copies the whole text per replacement: it must stay short.
            for (int k = static_cast<int>(rng() % 3); k >= 0 && text.size() < 1000; --k) {
                const std::string find = random_text(rng, 3), more = random_text(rng, max_replace);
                const Entry entry{find, rng() % 4 == 0 ? "" : rng() % 3 == 0 ? find + more : more};
                const ModelPassResult model = model_entry_pass(text, entry, options);
                const std::string before = text;
                bool planned = false;
                ASSERT_TRUE(plan_agrees(pass, before, entry, options, model.content,
                                        model.replacements, planned));
                ++(planned ? plans : give_ups);
                const std::size_t replacements = pass.apply(text, entry, options);
                ASSERT_TRUE(replacements == model.replacements && text == model.content)
                    << describe(before, entry, options) << "\n  engine "
                    << ::testing::PrintToString(text) << "\n  model  "
                    << ::testing::PrintToString(model.content);
            }
        }
    }
    // Both ways were taken often: the plan gives up only where a replacement holds a match.
    EXPECT_GT(plans, 10000);
    EXPECT_GT(give_ups, 1000);
}

// Long texts in which the find text's first byte is common and whole matches are rare, then
// rare too: the search changes its method partway through such a text (after some hundreds
// of first bytes that begin no match), and the result must not change with it.
TEST(EntryPass, LongTextsWithManyFalseStartsAgreeWithTheLiteralRules) {
    std::mt19937 rng(7);
    EntryPass pass;
    for (int i = 0; i < 24; ++i) {
        // One 'a' in every 2 or every 80 bytes on average; find texts from "ab" to "abbbbbbba".
        const std::size_t spread = i % 2 == 0 ? 2 : 80;
        std::string text(20'000 + rng() % 20'000, 'b');
        for (char& c : text) {
            c = rng() % spread == 0 ? 'a' : (rng() % 8 == 0 ? ' ' : 'b');
        }
        const std::string find = "a" + std::string(1 + rng() % 7, 'b') + (rng() % 2 ? "a" : "");
        const Entry entry{find, rng() % 3 == 0 ? "" : "x" + find.substr(1)};
        const MatchOptions options{(rng() & 1) != 0, true};
        const ModelPassResult model = model_entry_pass(text, entry, options);
        const std::string before = text;
        bool planned = false;
        ASSERT_TRUE(
            plan_agrees(pass, before, entry, options, model.content, model.replacements, planned));
        const std::size_t replacements = pass.apply(text, entry, options);
        ASSERT_TRUE(replacements == model.replacements && text == model.content)
            << "seed 7, case " << i << ", find " << find << ", whole word " << options.whole_word;
    }
}

// A source that turns out shorter or longer than it said, or fails to read, is no plan.
TEST(EntryPass, StreamedSourceOfAnotherLengthOrFailingIsRefused) {
    const std::string text = "a cat and a cat";
    for (const auto& [told, error_at, expected] :
         {std::tuple{text.size() + 1, -1, EAGAIN}, std::tuple{text.size() - 1, -1, EAGAIN},
          std::tuple{text.size(), 5, EIO}, std::tuple{text.size(), -1, 0}}) {
        std::size_t at = 0;
        const auto read = [&, error_at = error_at](char* buffer, std::size_t size) -> long {
            if (error_at >= 0 && at >= static_cast<std::size_t>(error_at)) {
                return -EIO;
            }
            const std::size_t n = std::min({size, std::size_t{3}, text.size() - at});
            std::memcpy(buffer, text.data() + at, n);
            at += n;
            return static_cast<long>(n);
        };
        core::StreamPlan plan;
        EXPECT_EQ(EntryPass::plan_stream(told, read, {"cat", "dog"}, kCase, plan, 0), expected)
            << "told " << told << ", failing at " << error_at;
    }
}

}  // namespace wendrel::test
