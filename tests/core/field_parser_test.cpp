#include "core/field_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wendrel::test {

using core::FieldParser;

TEST(FieldParser, SourceItemsComeLastFirstAndExceptNamesInFieldOrder) {
    // clang-format off
    const std::pair<std::string, std::vector<core::SourceItem>> items[] = {
        {"/a.txt", {{"/a.txt", false}}},  // a typed path without its ";" is kept whole
        {"/a.txt;/b.txt;", {{"/b.txt", false}, {"/a.txt", false}}},
        {"/a;/d*;/c", {{"/c", false}, {"/d", true}, {"/a", false}}},
        {"/docs*", {{"/docs", true}}},            {"/*;", {{"/", true}}},
        {"/a*b.txt;", {{"/a*b.txt", false}}},     {"/a**;", {{"/a*", true}}},
        {" /A b.TXT ;", {{" /A b.TXT ", false}}}, {";;/a;;/b;;", {{"/b", false}, {"/a", false}}},
        {";;;", {}}};
    const std::pair<std::string, std::vector<std::string>> names[] = {
        {";;", {}},
        {"/d/a.txt;/d/b.txt", {"/d/a.txt", "/d/b.txt"}},  // a last name without ";" counts
        {"/z;/a;/m;", {"/z", "/a", "/m"}}, {" /D/A.txt ;d*;", {" /D/A.txt ", "d*"}},
        {";/a;;/b;;", {"/a", "/b"}}};
    // clang-format on
    for (const auto& [field, expected] : items) {
        EXPECT_EQ(FieldParser::source_items(field), expected) << field;
    }
    for (const auto& [field, expected] : names) {
        EXPECT_EQ(FieldParser::except_names(field), expected) << field;
    }
}

}  // namespace wendrel::test
