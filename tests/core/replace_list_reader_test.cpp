#include "core/replace_list_reader.h"

#include <gtest/gtest.h>

#include "core/failure_reason.h"
#include "core/posix_file_system.h"
#include "reference_model.h"
#include "temp_dir.h"

namespace wendrel::test {

using core::ReplaceListReader;
using Entries = std::vector<core::Entry>;

TEST(ReplaceListReader, RecordsFollowTheRules) {
    // clang-format off
    const std::pair<std::string, Entries> rows[] = {
        {"abc|xyz|\r\nCat|dog|", {{"abc", "xyz"}, {"Cat", "dog"}}},
        // After the second "|" a lone LF ends the record; anything else is skipped in pairs.
        {"a|b|\nc|d|\n", {{"a", "b"}, {"c", "d"}}},         {"a|b|\n\nc|d|\n", {{"a", "b"}, {"\nc", "d"}}},
        {"a|b|\r\n\r\nc|d|\r\n", {{"a", "b"}, {"\r\nc", "d"}}}, {"\r\na|b|\r\n", {{"\r\na", "b"}}},
        {"a|b|x\r\nc|d|\r\n", {{"a", "b"}, {"\nc", "d"}}}, {"a|b|x\nc|d|\n", {{"a", "b"}, {"c", "d"}}},
        {"a|b|\r", {{"a", "b"}}},
        // A UTF-8 mark is skipped; a lone CR ends a record as a lone LF does.
        {"\xEF\xBB\xBF" "a|b|\r\n", {{"a", "b"}}}, {"a|b|\rc|d|\r", {{"a", "b"}, {"c", "d"}}},
        // A record cut short by the end of the file is dropped.
        {"a|b|\r\nc|d", {{"a", "b"}}}, {"a|", {}}, {"", {}}, {"||\r\n", {{"", ""}}},
        {" a ;|B b|\r\n", {{" a ;", "B b"}}}, {"a\rb|c\nd|\r\n", {{"a\rb", "c\nd"}}},
        {std::string("\xE9\0|\x7F\xFF|", 6), {{std::string("\xE9\0", 2), "\x7F\xFF"}}}};
    // clang-format on
    for (const auto& [bytes, expected] : rows) {
        SCOPED_TRACE(::testing::PrintToString(bytes));
        EXPECT_EQ(ReplaceListReader::parse(bytes), expected);
        EXPECT_EQ(model_read_records(bytes), expected);  // the row agrees with the rules
    }
}

// What the file holds is read as written, but what looks unintended is said, with its line.
TEST(ReplaceListReader, WarnsOfWhatLooksUnintendedWithItsLine) {
    using K = core::RulesWarning::Kind;
    // clang-format off
    const std::pair<std::string, std::vector<core::RulesWarning>> rows[] = {
        {"a|b|\r\nc|d|\ne|f|\rg|h|", {}},  // line ends of every kind
        {"a|b|\r\n\r\nc|d|\r\n", {{K::blank_line, 2}}}, {"a|b|\n\n\nc|d|\n", {{K::blank_line, 2}}},
        {"a|b|x\r\nc|d|\r\n", {{K::text_after_record, 1}}}, {"", {{K::no_record, 0}}},
        {"World -> Earth\r\na|b|\r\n", {{K::line_without_bar, 1}}},
        {"a|b\nc|\nd|e|\n", {{K::replacement_spans_lines, 1}}},
        {"|x|\r\na|b|\r\n", {{K::empty_find, 1}}}, {"a|b|\r\nc|d", {{K::cut_short, 2}}},
        {"a|b|\r\nc|d|\r\na|e|\r\n", {{K::repeated_find, 3, 1}}},
        {"no bars\n", {{K::cut_short, 1}, {K::no_record, 0}}}};
    // clang-format on
    for (const auto& [bytes, expected] : rows) {
        std::vector<core::RulesWarning> warnings;
        ReplaceListReader::parse(bytes, &warnings);
        EXPECT_EQ(warnings, expected) << ::testing::PrintToString(bytes);
    }
}

// A UTF-16 file would be read one half-character at a time: it is refused, with its reason.
TEST(ReplaceListReader, Utf16IsRefused) {
    TempDir dir;
    using namespace std::string_literals;
    for (const auto& [bytes, refused] : {std::pair{"\377\376a\0|\0b\0|\0"s, true},
                                         {"a\0|\0b\0|\0\r\0\n\0"s, true},
                                         {"\xE4\xB8\xAD|\xE6\x96\x87|\r\n"s, false}}) {
        std::vector<core::Entry> entries;
        EXPECT_EQ(ReplaceListReader::read(core::PosixFileSystem::instance(),
                                          dir.write("rules", bytes), entries),
                  refused ? core::failure::kRulesFileUtf16 : 0)
            << ::testing::PrintToString(bytes);
    }
}

}  // namespace wendrel::test
