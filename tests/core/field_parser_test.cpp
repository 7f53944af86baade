#include "core/field_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wendrel::test {
namespace {

using core::FieldParser;
using core::SourceItem;
using Items = std::vector<SourceItem>;
using Names = std::vector<std::string>;

struct SourceCase {
    const char* name;
    std::string field;
    Items expected;
};

class FieldParserSource : public ::testing::TestWithParam<SourceCase> {};

TEST_P(FieldParserSource, GivesItemsLastFirst) {
    EXPECT_EQ(FieldParser::source_items(GetParam().field), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Items, FieldParserSource,
    ::testing::Values(
        SourceCase{"OneFile", "/a.txt;", {{"/a.txt", false}}},
        SourceCase{"OneFileWithoutSemicolon", "/a.txt", {{"/a.txt", false}}},
        SourceCase{"TwoFilesLastFirst", "/a.txt;/b.txt;", {{"/b.txt", false}, {"/a.txt", false}}},
        SourceCase{"ThreeMixed", "/a;/d*;/c", {{"/c", false}, {"/d", true}, {"/a", false}}},
        SourceCase{"Folder", "/docs*;", {{"/docs", true}}},
        SourceCase{"FolderWithoutSemicolon", "/docs*", {{"/docs", true}}},
        SourceCase{"RootFolder", "/*;", {{"/", true}}},
        SourceCase{"StarInsideIsOrdinary", "/a*b.txt;", {{"/a*b.txt", false}}},
        SourceCase{"OnlyTheLastStarMarks", "/a**;", {{"/a*", true}}},
        SourceCase{"SpacesAndCaseKept", " /A b.TXT ;", {{" /A b.TXT ", false}}},
        SourceCase{"EmptyItemsIgnored", ";;/a;;/b;;", {{"/b", false}, {"/a", false}}},
        SourceCase{"Empty", "", {}}, SourceCase{"OnlySemicolons", ";;;", {}}),
    [](const auto& info) { return std::string(info.param.name); });

struct ExceptCase {
    const char* name;
    std::string field;
    Names expected;
};

class FieldParserExcept : public ::testing::TestWithParam<ExceptCase> {};

TEST_P(FieldParserExcept, GivesNamesInFieldOrder) {
    EXPECT_EQ(FieldParser::except_names(GetParam().field), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FieldParserExcept,
    ::testing::Values(ExceptCase{"Empty", "", {}}, ExceptCase{"One", "/d/a.txt;", {"/d/a.txt"}},
                      ExceptCase{
                          "LastWithoutSemicolon", "/d/a.txt;/d/b.txt", {"/d/a.txt", "/d/b.txt"}},
                      ExceptCase{"FieldOrder", "/z;/a;/m;", {"/z", "/a", "/m"}},
                      ExceptCase{"AsWritten", " /D/A.txt ;d*;", {" /D/A.txt ", "d*"}},
                      ExceptCase{"EmptyItemsIgnored", ";/a;;/b;;", {"/a", "/b"}},
                      ExceptCase{"OnlySemicolons", ";;", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FieldParser, KeepsEveryNameBeyondAThousand) {
    std::string field;
    Names expected;
    for (int i = 0; i < 1500; ++i) {
        expected.push_back("/d/f" + std::to_string(i));
        field += expected.back() + ";";
    }
    EXPECT_EQ(FieldParser::except_names(field), expected);
}

TEST(FieldParser, KeepsEverySourceItemBeyondAThousand) {
    std::string field;
    for (int i = 0; i < 1500; ++i) {
        field += "/d/f" + std::to_string(i) + ";";
    }
    const Items items = FieldParser::source_items(field);
    ASSERT_EQ(items.size(), 1500u);
    EXPECT_EQ(items.front().path, "/d/f1499");
    EXPECT_EQ(items.back().path, "/d/f0");
}

}  // namespace
}  // namespace wendrel::test
