#include "core/replace_list_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "core/posix_file_system.h"
#include "faulty_file_system.h"
#include "reference_model.h"
#include "temp_dir.h"
#include "test_util.h"

namespace wendrel::test {
namespace {

using core::Entry;
using core::ReplaceListReader;
using Entries = std::vector<Entry>;

struct ParseCase {
    const char* name;
    std::string bytes;
    Entries expected;
};

class ReplaceListReaderParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ReplaceListReaderParse, GivesTheRecords) {
    const ParseCase& c = GetParam();
    EXPECT_EQ(ReplaceListReader::parse(c.bytes), c.expected);
    EXPECT_EQ(model_read_records(c.bytes), c.expected);  // the row agrees with the rules
}

INSTANTIATE_TEST_SUITE_P(
    Records, ReplaceListReaderParse,
    ::testing::Values(
        ParseCase{"CrLf", "abc|xyz|\r\nCat|dog|\r\n", {{"abc", "xyz"}, {"Cat", "dog"}}},
        ParseCase{"NoFinalLineEnd", "abc|xyz|\r\nCat|dog|", {{"abc", "xyz"}, {"Cat", "dog"}}},
        ParseCase{"LfOnly", "a|b|\nc|d|\n", {{"a", "b"}, {"c", "d"}}},
        ParseCase{"LfOnlyNoFinal", "a|b|\nc|d|", {{"a", "b"}, {"c", "d"}}},
        ParseCase{"EmptyCrLfLine", "a|b|\r\n\r\nc|d|\r\n", {{"a", "b"}, {"\r\nc", "d"}}},
        ParseCase{"EmptyLfLine", "a|b|\n\nc|d|\n", {{"a", "b"}, {"\nc", "d"}}},
        ParseCase{"EmptyLineFirst", "\r\na|b|\r\n", {{"\r\na", "b"}}},
        ParseCase{"TextAfterSecondBar", "a|b|x\r\nc|d|\r\n", {{"a", "b"}, {"\nc", "d"}}},
        ParseCase{"TextAfterSecondBarLf", "a|b|x\nc|d|\n", {{"a", "b"}, {"c", "d"}}},
        ParseCase{"TruncatedAfterFind", "a|b|\r\nc|d", {{"a", "b"}}},
        ParseCase{"TruncatedInFind", "a|b|\r\nc", {{"a", "b"}}}, ParseCase{"OnlyOneBar", "a|", {}},
        ParseCase{"NoBar", "abc", {}}, ParseCase{"EmptyTexts", "||\r\n", {{"", ""}}},
        ParseCase{"EmptyFile", "", {}}, ParseCase{"LoneCrAfterRecord", "a|b|\r", {{"a", "b"}}},
        ParseCase{"CrCrLf", "a|b|\r\r\nc|d|", {{"a", "b"}, {"\nc", "d"}}},
        ParseCase{"TextsKeptAsWritten", " a ;|B b|\r\n", {{" a ;", "B b"}}},
        ParseCase{"CrInsideText", "a\rb|c\nd|\r\n", {{"a\rb", "c\nd"}}},
        ParseCase{
            "Bytes", std::string("\xE9\0|\x7F\xFF|", 6), {{std::string("\xE9\0", 2), "\x7F\xFF"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReplaceListReader, KeepsEveryRecordBeyondAThousand) {
    Entries entries;
    for (int i = 0; i < 1500; ++i) {
        entries.push_back({"f" + std::to_string(i), "r" + std::to_string(i)});
    }
    EXPECT_EQ(ReplaceListReader::parse(records_text(entries)), entries);
}

TEST(ReplaceListReader, AgreesWithTheLiteralRules) {
    static const std::string alphabet = "ab|||\r\n\n \xE9";
    std::mt19937 rng(4711);
    std::uniform_int_distribution<std::size_t> length(0, 24);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    int mismatches = 0;
    for (int i = 0; i < 20000 && mismatches < 5; ++i) {
        std::string bytes(length(rng), ' ');
        for (char& c : bytes) {
            c = alphabet[pick(rng)];
        }
        if (ReplaceListReader::parse(bytes) != model_read_records(bytes)) {
            ++mismatches;
            ADD_FAILURE() << "records differ for bytes of case " << i << ": "
                          << ::testing::PrintToString(bytes);
        }
    }
}

class ReplaceListReaderFile : public ::testing::Test {
  protected:
    core::FileSystem& fs_ = core::PosixFileSystem::instance();
    TempDir dir_;
};

TEST_F(ReplaceListReaderFile, ReadsARegularFile) {
    const std::string path = dir_.write("list.txt", "abc|xyz|\r\nCat|dog|\r\n");
    Entries entries;
    EXPECT_EQ(ReplaceListReader::read(fs_, path, entries), 0);
    EXPECT_EQ(entries, (Entries{{"abc", "xyz"}, {"Cat", "dog"}}));
}

TEST_F(ReplaceListReaderFile, ReadsLargeFilesWhole) {
    Entries expected;
    for (int i = 0; i < 20000; ++i) {
        expected.push_back({"find" + std::to_string(i), std::string(i % 37, 'x')});
    }
    const std::string path = dir_.write("list.txt", records_text(expected));
    Entries entries;
    EXPECT_EQ(ReplaceListReader::read(fs_, path, entries), 0);
    EXPECT_EQ(entries, expected);
}

TEST_F(ReplaceListReaderFile, FollowsASymlink) {
    const std::string target = dir_.write("list.txt", "a|b|\r\n");
    ASSERT_EQ(::symlink(target.c_str(), (dir_ / "link").c_str()), 0);
    Entries entries;
    EXPECT_EQ(ReplaceListReader::read(fs_, dir_ / "link", entries), 0);
    EXPECT_EQ(entries, (Entries{{"a", "b"}}));
}

TEST_F(ReplaceListReaderFile, MissingFileIsAnErrorAndIsNotCreated) {
    Entries entries;
    EXPECT_NE(ReplaceListReader::read(fs_, dir_ / "missing.txt", entries), 0);
    EXPECT_FALSE(exists(dir_ / "missing.txt"));
    EXPECT_TRUE(entries.empty());
}

TEST_F(ReplaceListReaderFile, FolderIsAnError) {
    Entries entries;
    EXPECT_NE(ReplaceListReader::read(fs_, dir_.make_dir("sub"), entries), 0);
    EXPECT_TRUE(entries.empty());
}

TEST_F(ReplaceListReaderFile, FifoIsAnErrorWithoutBlocking) {
    const std::string fifo = dir_.make_fifo("fifo");
    Entries entries;
    int result = 0;
    EXPECT_TRUE(finishes_without_blocking(
        fifo, [&] { result = ReplaceListReader::read(fs_, fifo, entries); }));
    EXPECT_NE(result, 0);
}

TEST_F(ReplaceListReaderFile, ShortReadsStillGiveEveryRecord) {
    const std::string path = dir_.write("list.txt", "abc|xyz|\r\nCat|dog|\r\n");
    FaultyFileSystem faulty(fs_);
    faulty.limit_reads(3);
    Entries entries;
    EXPECT_EQ(ReplaceListReader::read(faulty, path, entries), 0);
    EXPECT_EQ(entries, (Entries{{"abc", "xyz"}, {"Cat", "dog"}}));
}

TEST_F(ReplaceListReaderFile, ReadErrorIsReported) {
    const std::string path = dir_.write("list.txt", "abc|xyz|\r\n");
    FaultyFileSystem faulty(fs_);
    faulty.fail(FsCall::read, 1, EIO);
    Entries entries;
    EXPECT_EQ(ReplaceListReader::read(faulty, path, entries), EIO);
    EXPECT_TRUE(faulty.fault_hit());
}

}  // namespace
}  // namespace wendrel::test
