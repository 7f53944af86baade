#include "core/replace_list_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reference_model.h"

namespace wendrel::test {

using core::ReplaceListReader;
using Entries = std::vector<core::Entry>;

// Files beyond a thousand records and files that cannot be read are tried through the job.
TEST(ReplaceListReader, RecordsFollowTheRules) {
    // clang-format off
    const std::pair<std::string, Entries> rows[] = {
        {"abc|xyz|\r\nCat|dog|", {{"abc", "xyz"}, {"Cat", "dog"}}},
        // After the second "|" a lone LF ends the record; anything else is skipped in pairs.
        {"a|b|\nc|d|\n", {{"a", "b"}, {"c", "d"}}},         {"a|b|\n\nc|d|\n", {{"a", "b"}, {"\nc", "d"}}},
        {"a|b|\r\n\r\nc|d|\r\n", {{"a", "b"}, {"\r\nc", "d"}}}, {"\r\na|b|\r\n", {{"\r\na", "b"}}},
        {"a|b|x\r\nc|d|\r\n", {{"a", "b"}, {"\nc", "d"}}}, {"a|b|x\nc|d|\n", {{"a", "b"}, {"c", "d"}}},
        {"a|b|\r", {{"a", "b"}}},
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

}  // namespace wendrel::test
