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

// Each encoding of the rules file, read into the file's own bytes and into UTF-8. A UTF-16 file
// without its mark would be read one half-character at a time: it is refused, with its reason.
TEST(ReplaceListReader, ReadsEachEncoding) {
    TempDir dir;
    using namespace std::string_literals;
    using core::Entry;
    using Kind = core::TextEncoding::Kind;
    struct Row {
        std::string bytes;
        std::string encoding;  // given; empty: found
        int error;
        Kind kind;
        std::vector<Entry> entries;  // in the file's bytes
        std::optional<std::vector<Entry>> text;
    };
    const std::vector<Entry> ascii = {{"a", "b"}};
    // '亅' is 81 7C in GB18030: its second byte is a "|".
    const std::vector<Row> rows = {
        {"\xFF\xFE"
         "a\0|\0b\0|\0\r\0\n\0"s,
         "", 0, Kind::decoded, ascii, ascii},
        {"a\0|\0b\0|\0\r\0\n\0"s, "", core::failure::kRulesFileUtf16, Kind::bytes, {}, {}},
        {"\xE4\xB8\xAD|\xE6\x96\x87|\r\n", "", 0, Kind::utf8, {{"中", "文"}}, {{{"中", "文"}}}},
        {"\x81\x7C|\xD6\xD0|\r\n",
         "GB18030",
         0,
         Kind::decoded,
         {{"\x81\x7C", "\xD6\xD0"}},
         {{{"亅", "中"}}}},
        {"\xFF|a|\r\n", "", 0, Kind::bytes, {{"\xFF", "a"}}, std::nullopt},
        {"\xFF|a|\r\n", "UTF-8", core::failure::kNotInEncoding, Kind::utf8, {}, {}},
        {"a|b|\r\n", "NO-SUCH-CODE", core::failure::kUnknownEncoding, Kind::decoded, {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.bytes));
        core::RulesText rules;
        ASSERT_EQ(ReplaceListReader::read(core::PosixFileSystem::instance(),
                                          dir.write("rules", row.bytes), row.encoding, rules),
                  row.error);
        if (row.error == 0) {
            EXPECT_EQ(rules.encoding.kind, row.kind);
            EXPECT_EQ(rules.entries, row.entries);
            EXPECT_EQ(rules.text, row.text);
        }
    }
}

}  // namespace wendrel::test
