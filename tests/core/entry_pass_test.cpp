#include "core/entry_pass.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "reference_model.h"

namespace wendrel::test {
namespace {

using core::Entry;
using core::EntryPass;
using core::MatchOptions;

constexpr MatchOptions kOff{false, false};
constexpr MatchOptions kWhole{true, false};
constexpr MatchOptions kCase{false, true};
constexpr MatchOptions kBoth{true, true};

struct PassCase {
    const char* name;
    std::string content;
    Entry entry;
    MatchOptions options;
    std::string expected;
    std::size_t replacements;
};

class EntryPassTable : public ::testing::TestWithParam<PassCase> {};

TEST_P(EntryPassTable, GivesTheRuleResult) {
    const PassCase& c = GetParam();
    std::string text = c.content;
    EntryPass pass;
    EXPECT_EQ(pass.apply(text, c.entry, c.options), c.replacements);
    EXPECT_EQ(text, c.expected);
    // The table itself is checked against the literal model, so a wrong row shows up too.
    const ModelPassResult model = model_entry_pass(c.content, c.entry, c.options);
    EXPECT_EQ(model.content, c.expected);
    EXPECT_EQ(model.replacements, c.replacements);
}

const std::string e9 = "\xE9";

INSTANTIATE_TEST_SUITE_P(
    ScanAndLastStart, EntryPassTable,
    ::testing::Values(
        // The scan goes on inside the inserted text up to the last start fixed at the outset.
        PassCase{"GrowInsideInsert", "a b", {"a", "aa"}, kOff, "aaaa b", 3},
        PassCase{"GrowWholeWord", "a b", {"a", "aa"}, kWhole, "aa b", 1},
        PassCase{"PushedBeyondLastStart", "a a", {"a", "xyz"}, kOff, "xyz a", 1},
        PassCase{"NonOverlapping", "aaaa", {"aa", "b"}, kOff, "bb", 2},
        // After a deletion the next byte has moved onto the position just tested.
        PassCase{"DeleteSkipsNext", "aaa", {"a", ""}, kOff, "a", 2},
        PassCase{"DeleteKeepsSpaces", "a b a", {"a", ""}, kOff, " b ", 2},
        PassCase{"InsertAtLastStart", "xa", {"a", "ab"}, kOff, "xab", 1},
        PassCase{"WholeContent", "abc", {"abc", "x"}, kCase, "x", 1},
        PassCase{"FindLongerThanContent", "ab", {"abc", "x"}, kOff, "ab", 0},
        PassCase{"EmptyContent", "", {"a", "x"}, kOff, "", 0},
        PassCase{"EmptyFindNeverMatches", "ab", {"", "x"}, kOff, "ab", 0},
        PassCase{"EmptyFindWholeWord", "ab", {"", "x"}, kWhole, "ab", 0},
        PassCase{"EmptyFindEmptyContent", "", {"", "x"}, kOff, "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    WholeWord, EntryPassTable,
    ::testing::Values(PassCase{"Alone", "cat", {"cat", "dog"}, kWhole, "dog", 1},
                      PassCase{"Comma", "cat,", {"cat", "dog"}, kWhole, "dog,", 1},
                      PassCase{"Parens", "(cat)", {"cat", "dog"}, kWhole, "(dog)", 1},
                      PassCase{"LetterAfter", "cats", {"cat", "dog"}, kWhole, "cats", 0},
                      PassCase{"LetterBefore", "Tomcat", {"cat", "dog"}, kWhole, "Tomcat", 0},
                      PassCase{"Digit", "cat1", {"cat", "dog"}, kWhole, "dog1", 1},
                      PassCase{"Underscore", "cat_x", {"cat", "dog"}, kWhole, "dog_x", 1},
                      PassCase{"DigitBefore", "2cat", {"cat", "dog"}, kWhole, "2dog", 1},
                      PassCase{
                          "HighBytes", e9 + "cat" + e9, {"cat", "dog"}, kWhole, e9 + "dog" + e9, 1},
                      // Just outside and at the ends of the two letter ranges.
                      PassCase{"AtAndBacktick", "@cat`", {"cat", "dog"}, kWhole, "@dog`", 1},
                      PassCase{"BracketAndBrace", "[cat{", {"cat", "dog"}, kWhole, "[dog{", 1},
                      PassCase{"UpperZ", "Zcat", {"cat", "dog"}, kWhole, "Zcat", 0},
                      PassCase{"LowerZ", "catz", {"cat", "dog"}, kWhole, "catz", 0},
                      PassCase{"UpperA", "catA", {"cat", "dog"}, kWhole, "catA", 0},
                      PassCase{"LineEnds", "\ncat\r", {"cat", "dog"}, kBoth, "\ndog\r", 1},
                      PassCase{"Mixed", "cat cats cat", {"cat", "dog"}, kWhole, "dog cats dog", 2}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    CaseAndEnds, EntryPassTable,
    ::testing::Values(
        PassCase{"CaseOff", "Cat CAT cat", {"cat", "dog"}, kOff, "dog dog dog", 3},
        PassCase{"CaseOn", "Cat CAT cat", {"cat", "dog"}, kCase, "Cat CAT dog", 1},
        PassCase{"UpperFindCaseOff", "cat", {"CAT", "x"}, kOff, "x", 1},
        PassCase{"ReplacementAsWritten", "CAT", {"cat", "Dog"}, kOff, "Dog", 1},
        PassCase{"HighByte", e9, {e9, "x"}, kOff, "x", 1},
        PassCase{"LeadingSpaceNotAtStart", "x y", {" x", "Q"}, kOff, "x y", 0},
        PassCase{"TrailingSpaceNotAtEnd", "y x", {"x ", "Q"}, kOff, "y x", 0},
        PassCase{"LeadingSpaceInside", "y x", {" x", "Q"}, kOff, "yQ", 1},
        PassCase{"TrailingSpaceInside", "x y", {"x ", "Q"}, kOff, "Qy", 1},
        PassCase{"LastByte", "ab", {"b", "c"}, kCase, "ac", 1},
        PassCase{"NulBytes", std::string("a\0b", 3), {std::string("\0", 1), "-"}, kCase, "a-b", 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EntryPass, LaterEntriesWorkOnEarlierOutput) {
    EntryPass pass;
    std::string text = "cat";
    pass.apply(text, {"cat", "dog"}, kCase);
    pass.apply(text, {"dog", "cow"}, kCase);
    EXPECT_EQ(text, "cow");
}

TEST(EntryPass, ReuseAfterALongTextLeavesNothingBehind) {
    EntryPass pass;
    std::string big(10000, 'a');
    EXPECT_EQ(pass.apply(big, {"a", "b"}, kCase), 10000u);
    EXPECT_TRUE(big == std::string(10000, 'b'));

    std::string small = "xa";
    EXPECT_EQ(pass.apply(small, {"a", "c"}, kCase), 1u);
    EXPECT_EQ(small, "xc");

    std::string untouched = "zz";
    EXPECT_EQ(pass.apply(untouched, {"a", "c"}, kCase), 0u);
    EXPECT_EQ(untouched, "zz");

    std::string emptied = "a";
    EXPECT_EQ(pass.apply(emptied, {"a", ""}, kCase), 1u);
    EXPECT_EQ(emptied, "");
}

// Text of N 'a': every start 2..N+1 of the padded text holds an 'a' with a byte after it,
// because each insertion pushes the closing space one further right. So all N bytes double.
TEST(EntryPass, DoublingAMillionBytes) {
    constexpr std::size_t n = 1'000'000;
    std::string text(n, 'a');
    EntryPass pass;
    EXPECT_EQ(pass.apply(text, {"a", "aa"}, kCase), n);
    EXPECT_EQ(text.size(), 2 * n);
    EXPECT_EQ(text.find_first_not_of('a'), std::string::npos);
}

// 'aa' -> 'a' on N 'a': after k replacements the scan stands at k + 2 and the a's end at
// N + 1 - k, so a pair is found while 2k <= N - 2: N/2 replacements, N/2 bytes left.
TEST(EntryPass, HalvingAMillionBytes) {
    constexpr std::size_t n = 1'000'000;
    std::string text(n, 'a');
    EntryPass pass;
    EXPECT_EQ(pass.apply(text, {"aa", "a"}, kCase), n / 2);
    EXPECT_EQ(text, std::string(n / 2, 'a'));
}

// 200,000 words "a " with whole-word 'a' -> 'aa': word k starts at 2 + 2k of the padded text
// and has moved to 2 + 3k after k insertions; the last start is fixed at 400,001, so words
// 0 to 133,333 are replaced and the rest lie beyond the scan.
TEST(EntryPass, WholeWordsPushedBeyondTheLastStart) {
    constexpr int words = 200000;
    constexpr int replaced = 133334;
    std::string text;
    std::string expected;
    for (int k = 0; k < words; ++k) {
        text += "a ";
        expected += k < replaced ? "aa " : "a ";
    }
    EntryPass pass;
    EXPECT_EQ(pass.apply(text, {"a", "aa"}, kWhole), static_cast<std::size_t>(replaced));
    EXPECT_EQ(text, expected);
}

std::string random_text(std::mt19937& rng, std::size_t max_length) {
    static const std::string alphabet = "aaaAAbb _1\xE9";
    std::uniform_int_distribution<std::size_t> length(0, max_length);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::string text(length(rng), ' ');
    for (char& c : text) {
        c = alphabet[pick(rng)];
    }
    return text;
}

Entry random_entry(std::mt19937& rng, std::size_t max_find, std::size_t max_replace) {
    Entry entry{random_text(rng, max_find), ""};
    switch (rng() % 4) {
        case 0:
            break;
        case 1:  // holds the find text, so the scan meets it again inside the insert
            entry.replace =
                random_text(rng, max_replace / 2) + entry.find + random_text(rng, max_replace / 2);
            break;
        default:
            entry.replace = random_text(rng, max_replace);
            break;
    }
    return entry;
}

std::string shown(const std::string& bytes) {
    std::string out;
    for (const unsigned char c : bytes) {
        out += c == 0xE9 ? std::string("<E9>") : std::string(1, static_cast<char>(c));
    }
    return "'" + out + "'";
}

struct RandomShape {
    unsigned seed;
    int cases;
    std::size_t max_text;
    std::size_t max_find;
    std::size_t max_replace;
};

void expect_model_results_on_random_cases(const RandomShape& shape) {
    std::mt19937 rng(shape.seed);
    EntryPass pass;  // one object for every case: its scratch buffer is reused throughout
    int mismatches = 0;
    for (int i = 0; i < shape.cases && mismatches < 5; ++i) {
        const std::string content = random_text(rng, shape.max_text);
        const Entry entry = random_entry(rng, shape.max_find, shape.max_replace);
        const MatchOptions options{(rng() & 1) != 0, (rng() & 2) != 0};
        const ModelPassResult model = model_entry_pass(content, entry, options);
        std::string text = content;
        const std::size_t replacements = pass.apply(text, entry, options);
        if (text != model.content || replacements != model.replacements) {
            ++mismatches;
            ADD_FAILURE() << "case " << i << ": " << shown(content) << " with " << shown(entry.find)
                          << " -> " << shown(entry.replace) << " whole_word " << options.whole_word
                          << " match_case " << options.match_case << "\n  engine " << shown(text)
                          << " (" << replacements << ")\n  model  " << shown(model.content) << " ("
                          << model.replacements << ")";
        }
    }
}

TEST(EntryPass, AgreesWithTheLiteralRules) {
    expect_model_results_on_random_cases({20240611, 40000, 12, 3, 8});
}

// Longer texts reach the block-wise search for a first byte in either case.
TEST(EntryPass, AgreesWithTheLiteralRulesOnLongerTexts) {
    expect_model_results_on_random_cases({99, 3000, 300, 3, 40});
}

// 100 KB with a match every few hundred bytes, and replacements hundreds of bytes long that
// hold the find text: the text grows by far more than any small reserve, many times over.
TEST(EntryPass, AgreesWithTheLiteralRulesOnLargeGrowingTexts) {
    std::mt19937 rng(3);
    static const std::string filler =
        "b _1\xE9"
        "B";
    std::string content(100000, ' ');
    for (char& c : content) {
        c = rng() % 400 == 0 ? "aA"[rng() % 2] : filler[rng() % filler.size()];
    }
    const std::pair<Entry, MatchOptions> cases[] = {
        {{"a", std::string(600, 'x') + "a"}, kOff},
        {{"a", std::string(600, 'x') + "a"}, kWhole},
        {{"A", "a" + std::string(500, 'y')}, kCase},
        {{"A", "a" + std::string(500, 'y')}, kBoth},
        {{"a", ""}, kOff},
    };
    EntryPass pass;
    for (const auto& [entry, options] : cases) {
        const ModelPassResult model = model_entry_pass(content, entry, options);
        std::string text = content;
        EXPECT_EQ(pass.apply(text, entry, options), model.replacements)
            << "find " << entry.find << " whole_word " << options.whole_word;
        EXPECT_TRUE(text == model.content)
            << "find " << entry.find << " whole_word " << options.whole_word;
    }
}

// Several entries in a row over one text, the way a job applies a replacement list.
TEST(EntryPass, AgreesWithTheLiteralRulesOverEntrySequences) {
    std::mt19937 rng(7);
    EntryPass pass;
    int mismatches = 0;
    for (int i = 0; i < 5000 && mismatches < 5; ++i) {
        std::string text = random_text(rng, 20);
        std::string model = text;
        const MatchOptions options{(rng() & 1) != 0, (rng() & 2) != 0};
        for (int k = 0; k < 4; ++k) {
            const Entry entry = random_entry(rng, 3, 8);
            pass.apply(text, entry, options);
            model = model_entry_pass(model, entry, options).content;
        }
        if (text != model) {
            ++mismatches;
            ADD_FAILURE() << "sequence " << i << ": engine " << shown(text) << " model "
                          << shown(model);
        }
    }
}

}  // namespace
}  // namespace wendrel::test
