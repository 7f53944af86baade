#include "core/replace_job.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/posix_file_system.h"
#include "recording_observer.h"
#include "reference_model.h"
#include "temp_dir.h"
#include "test_util.h"

namespace wendrel::test {
namespace {

using core::Entry;
using core::JobInputs;
using core::MatchOptions;
using Lines = std::vector<std::string>;
using Entries = std::vector<Entry>;

// The job's texts, written out here rather than taken from the core, so a changed byte shows.
const std::string kPreparing = "正在为替换做准备，请稍候--";
const std::string kSourceRead = "完成对替换内容来源的读取--";
const std::string kSourceUnreadable = "未能读取替换内容来源--";
const std::string kExceptRead = "完成对除去文件列表的读取--";
const std::string kReady = "完成替换的准备工作，即将开始替换--";
const std::string kAllDone = "完成了对所有文件的替换--";
const std::string kInputCheck = "请选择要替换的文件和替换来源";
const std::string kTime = "21:05:03";

std::string done(const std::string& path) {
    return "完成文件" + path + "的替换--";
}
std::string skipped(const std::string& path) {
    return "跳过了文件" + path + "的替换--";
}
std::string at_time(const std::string& message) {
    return message + kTime;
}

// The status log of a job that reached the timers: the opening lines, then `later`.
Lines job_lines(const Lines& later) {
    Lines lines = {at_time(kPreparing), at_time(kSourceRead), at_time(kExceptRead),
                   at_time(kReady)};
    for (const std::string& message : later) {
        lines.push_back(at_time(message));
    }
    return lines;
}

class ReplaceJobTest : public ::testing::Test {
  protected:
    /// Writes the replacement-content file and returns the inputs of a job.
    JobInputs inputs(const std::string& source, const Entries& entries,
                     const std::string& except = "", MatchOptions options = {}) {
        return {source, except, lists_.write("list.txt", records_text(entries)), options};
    }
    TickCounts run(const JobInputs& in) {
        job_.start(in);
        return run_ticks(job_);
    }
    std::string content(const std::string& path) { return read_all(path).value_or("<missing>"); }

    TempDir dir_;    // targets
    TempDir lists_;  // replacement-content files
    RecordingObserver obs_;
    core::ReplaceJob job_{obs_, core::PosixFileSystem::instance(), [] { return kTime; }};
};

TEST_F(ReplaceJobTest, StatusLinesStandInJobOrder) {
    const std::string a = dir_.write("a.txt", "cat");
    const std::string b = dir_.write("b.txt", "cat");
    const std::string c = dir_.write("c.txt", "cat");
    run(inputs(a + ";" + b + ";" + c + ";", {{"cat", "dog"}}, b + ";"));
    EXPECT_EQ(obs_.status, job_lines({done(c), skipped(b), done(a), kAllDone}));
    EXPECT_EQ(content(c), "dog");
    EXPECT_EQ(content(b), "cat");
    EXPECT_EQ(content(a), "dog");
}

TEST_F(ReplaceJobTest, EveryLineTakesTheTimeWhenItIsAdded) {
    int ticks = 0;
    core::ReplaceJob job(obs_, core::PosixFileSystem::instance(),
                         [&] { return "T" + std::to_string(++ticks); });
    const std::string a = dir_.write("a.txt", "cat");
    job.start(inputs(a + ";", {{"cat", "dog"}}));
    run_ticks(job);
    ASSERT_EQ(obs_.status.size(), 6u);
    int last = 0;
    for (const std::string& line : obs_.status) {
        const auto mark = line.rfind("--T");
        ASSERT_NE(mark, std::string::npos) << line;
        const int time = std::stoi(line.substr(mark + 3));
        EXPECT_GT(time, last) << line;
        last = time;
    }
}

TEST_F(ReplaceJobTest, ResultsFollowTheRulesForEveryEntryAndOption) {
    const Entries entries = {{"a", "aA"}, {"A", "b_"}, {"b", ""}, {"", "z"}, {"_a", "a a"}};
    const Lines contents = {"a b A_a", "aaaa", "",
                            std::string("\xE9"
                                        "a"
                                        "\xE9 Ab\r\n",
                                        8)};
    for (const MatchOptions options : {MatchOptions{false, false}, MatchOptions{true, false},
                                       MatchOptions{false, true}, MatchOptions{true, true}}) {
        Lines paths;
        std::string source;
        for (std::size_t i = 0; i < contents.size(); ++i) {
            paths.push_back(dir_.write("f" + std::to_string(i), contents[i]));
            source += paths.back() + ";";
        }
        run(inputs(source, entries, "", options));
        for (std::size_t i = 0; i < contents.size(); ++i) {
            std::string expected = contents[i];
            for (const Entry& entry : entries) {
                expected = model_entry_pass(expected, entry, options).content;
            }
            EXPECT_EQ(content(paths[i]), expected)
                << "file " << i << " whole_word " << options.whole_word << " match_case "
                << options.match_case;
        }
    }
}

TEST_F(ReplaceJobTest, KeepsEveryEntryBeyondAThousand) {
    Entries chain;
    for (int i = 0; i < 1500; ++i) {
        chain.push_back({"k" + std::to_string(i) + ".", "k" + std::to_string(i + 1) + "."});
    }
    const std::string a = dir_.write("a.txt", "k0.");
    const TickCounts ticks = run(inputs(a + ";", chain));
    EXPECT_EQ(content(a), "k1500.");
    EXPECT_EQ(ticks.timer2, 1500);
    EXPECT_EQ(job_.replace_list().size(), 1500u);
}

TEST_F(ReplaceJobTest, ReportsEveryEntryAndTheOutcomeOfEveryTarget) {
    const std::string a = dir_.write("a.txt", "cat cat");
    const std::string b = dir_.write("b.txt", "dog");
    const std::string missing = dir_ / "missing.txt";
    run(inputs(a + ";" + b + ";" + missing + ";", {{"cat", "dog"}, {"dog", "cow"}}, b + ";"));
    EXPECT_EQ(obs_.entries, (Lines{a + " 0 2", a + " 1 2"}));
    EXPECT_EQ(obs_.outcomes, (Lines{missing + " failed", b + " skipped", a + " completed"}));
}

TEST_F(ReplaceJobTest, DryRunReportsAsUsualAndWritesNothing) {
    const std::string a = dir_.write("a.txt", "cat");
    set_mtime(a, 1000000000);
    const struct stat before = stat_of(a);
    JobInputs in = inputs(a + ";", {{"cat", "dog"}});
    in.dry_run = true;
    run(in);
    EXPECT_EQ(content(a), "cat");
    EXPECT_EQ(stat_of(a).st_ino, before.st_ino);
    EXPECT_TRUE(same_mtime(stat_of(a), before));
    EXPECT_EQ(job_.file_text(), "dog");
    EXPECT_EQ(obs_.status.at(4), at_time(done(a)));
    EXPECT_EQ(obs_.entries, (Lines{a + " 0 1"}));
}

// --- file information --------------------------------------------------------------------

TEST_F(ReplaceJobTest, OneTargetGivesTheFileType) {
    const std::string a = dir_.write("a.txt", "x");
    run(inputs(a + ";", {{"q", "r"}}));
    EXPECT_EQ(obs_.info, (Lines{"类型--文件", "大小--1kb"}));
}

TEST_F(ReplaceJobTest, SeveralTargetsGiveCountsAndSize) {
    const std::string a = dir_.write("a.txt", std::string(1000, 'x'));
    const std::string b = dir_.write("b.txt", std::string(2000, 'x'));
    job_.start(inputs(a + ";" + b + ";", {{"q", "r"}, {"s", "t"}}));
    EXPECT_EQ(obs_.info, (Lines{"类型--文件夹/文件", "包含文件--2", "除去文件--0", "大小--3kb"}));
    EXPECT_EQ(obs_.max, 3000.0 * 2 + 100);
}

TEST_F(ReplaceJobTest, CountsIncludeExcludedTargetsButTheSizeDoesNot) {
    const std::string a = dir_.write("a.txt", std::string(1000, 'x'));
    const std::string b = dir_.write("b.txt", std::string(2000, 'x'));
    job_.start(inputs(a + ";" + b + ";", {{"q", "r"}}, b + ";"));
    EXPECT_EQ(obs_.info, (Lines{"类型--文件夹/文件", "包含文件--2", "除去文件--1", "大小--1kb"}));
    EXPECT_EQ(obs_.max, 1000.0 + 100);
}

TEST_F(ReplaceJobTest, ExclusionCountIsTheNumberOfNames) {
    const std::string a = dir_.write("a.txt", "x");
    const std::string b = dir_.write("b.txt", "x");
    job_.start(inputs(a + ";" + b + ";", {{"q", "r"}}, dir_ / "n1;" + dir_ / "n2;" + dir_ / "n1;"));
    ASSERT_EQ(obs_.info.size(), 4u);
    EXPECT_EQ(obs_.info[2], "除去文件--3");  // a name written twice counts twice
}

TEST_F(ReplaceJobTest, UnloadableTargetsAddNothingToTheSize) {
    const std::string a = dir_.write("a.txt", std::string(1024, 'x'));
    const std::string sub = dir_.make_dir("sub");
    job_.start(inputs(a + ";" + dir_ / "missing.txt;" + sub + ";", {{"q", "r"}}));
    EXPECT_EQ(obs_.info, (Lines{"类型--文件夹/文件", "包含文件--3", "除去文件--0", "大小--2kb"}));
    EXPECT_EQ(obs_.max, 1024.0 + 100);
    EXPECT_FALSE(exists(dir_ / "missing.txt"));
}

class ReplaceJobKilobytes : public ReplaceJobTest,
                            public ::testing::WithParamInterface<std::pair<int, const char*>> {};

TEST_P(ReplaceJobKilobytes, RoundsDownAndAddsOne) {
    const std::string a = dir_.write("a.txt", std::string(GetParam().first, 'x'));
    job_.start(inputs(a + ";", {{"q", "r"}}));
    ASSERT_FALSE(obs_.info.empty());
    EXPECT_EQ(obs_.info.back(), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ReplaceJobKilobytes,
    ::testing::Values(std::pair{0, "大小--1kb"}, std::pair{1, "大小--1kb"},
                      std::pair{1023, "大小--1kb"}, std::pair{1024, "大小--2kb"},
                      std::pair{1536, "大小--2kb"}, std::pair{2047, "大小--2kb"},
                      std::pair{2048, "大小--3kb"}, std::pair{10 * 1024 * 1024, "大小--10241kb"}));

// --- progress ------------------------------------------------------------------------------

TEST_F(ReplaceJobTest, ProgressAdvancesByTheFileLengthPerEntryAndEndsAtMax) {
    const std::string a = dir_.write("a.txt", std::string(1000, 'x'));
    const std::string b = dir_.write("b.txt", std::string(2000, 'x'));
    run(inputs(a + ";" + b + ";", {{"x", "yy"}, {"y", ""}, {"u", "v"}}));
    EXPECT_EQ(obs_.max, 9100.0);
    // b comes first (last item first): three entries of 2000, then three of 1000; the length
    // is the file's as loaded, whatever the entries do to the text.
    EXPECT_EQ(obs_.values, (std::vector<double>{0, 100, 2100, 4100, 6100, 7100, 8100, 9100}));
    EXPECT_EQ(job_.progress_value(), job_.progress_max());
}

TEST_F(ReplaceJobTest, SkippedTargetsDoNotMoveTheBar) {
    const std::string a = dir_.write("a.txt", std::string(500, 'x'));
    const std::string b = dir_.write("b.txt", std::string(300, 'x'));
    run(inputs(b + ";" + a + ";", {{"q", "r"}, {"s", "t"}}, a + ";"));
    EXPECT_EQ(obs_.max, 700.0);
    EXPECT_EQ(obs_.values, (std::vector<double>{0, 100, 400, 700}));
}

TEST_F(ReplaceJobTest, ValueAboveTheMaximumIsRefused) {
    const std::string a = dir_.write("a.txt", "cat.......");
    job_.start(inputs(a + ";", {{"cat", "dog"}, {"q", "r"}}));
    ASSERT_EQ(obs_.max, 10.0 * 2 + 100);
    write_all(a, "cat" + std::string(997, '.'));  // grows before its load
    run_ticks(job_);
    EXPECT_FALSE(obs_.value_above_max);
    EXPECT_EQ(obs_.value, 100.0);  // both additions were refused; the bar kept its value
    EXPECT_EQ(content(a), "dog" + std::string(997, '.'));
}

// --- ticks ---------------------------------------------------------------------------------

TEST_F(ReplaceJobTest, ThreeTargetsTwoEntriesTakeFourAndSixTicks) {
    std::string source;
    for (const char* name : {"a", "b", "c"}) {
        source += dir_.write(name, "cat") + ";";
    }
    const TickCounts ticks = run(inputs(source, {{"cat", "dog"}, {"dog", "cow"}}));
    EXPECT_EQ(ticks.timer1, 4);
    EXPECT_EQ(ticks.timer2, 6);
    EXPECT_FALSE(ticks.both_on);
    EXPECT_FALSE(ticks.runaway);
    EXPECT_EQ(content(dir_ / "b"), "cow");
}

TEST_F(ReplaceJobTest, AllExcludedTargetsAreSkippedInOneTick) {
    const std::string a = dir_.write("a", "cat");
    const std::string b = dir_.write("b", "cat");
    const std::string c = dir_.write("c", "cat");
    const TickCounts ticks =
        run(inputs(a + ";" + b + ";" + c + ";", {{"cat", "dog"}}, c + ";" + a + ";" + b + ";"));
    EXPECT_EQ(ticks.timer1, 1);
    EXPECT_EQ(ticks.timer2, 0);
    EXPECT_EQ(obs_.status, job_lines({skipped(c), skipped(b), skipped(a), kAllDone}));
    EXPECT_EQ(obs_.values, (std::vector<double>{0, 100}));
}

TEST_F(ReplaceJobTest, ExcludedTargetsBeforeALoadGoInTheSameTick) {
    const std::string a = dir_.write("a", "cat");
    const std::string b = dir_.write("b", "cat");
    const std::string c = dir_.write("c", "cat");
    job_.start(inputs(a + ";" + b + ";" + c + ";", {{"cat", "dog"}}, c + ";" + b + ";"));
    job_.tick_timer1();
    EXPECT_EQ(starting_with(obs_.status, "跳过了文件"),
              (Lines{at_time(skipped(c)), at_time(skipped(b))}));
    EXPECT_TRUE(job_.timer2_on());
    EXPECT_FALSE(job_.timer1_on());
}

TEST_F(ReplaceJobTest, EmptyTargetListEndsOnTheFirstTick) {
    const std::string empty = dir_.make_dir("empty");
    const TickCounts ticks = run(inputs(empty + "*;", {{"cat", "dog"}}));
    EXPECT_EQ(ticks.timer1, 1);
    EXPECT_EQ(ticks.timer2, 0);
    EXPECT_EQ(obs_.info, (Lines{"类型--文件", "大小--1kb"}));
    EXPECT_EQ(obs_.max, 100.0);
    EXPECT_EQ(obs_.value, 100.0);
    EXPECT_EQ(obs_.status, job_lines({kAllDone}));
}

// --- exclusions ----------------------------------------------------------------------------

struct ExcludeCase {
    const char* name;
    std::string except;  // "@" stands for the target folder
    bool excluded;
};

class ReplaceJobExclusion : public ReplaceJobTest,
                            public ::testing::WithParamInterface<ExcludeCase> {};

TEST_P(ReplaceJobExclusion, MatchesWholePathsExactly) {
    const std::string a = dir_.write("a.txt", "cat");
    std::string except = GetParam().except;
    for (auto at = except.find('@'); at != std::string::npos; at = except.find('@')) {
        except.replace(at, 1, dir_.path());
    }
    run(inputs(a + ";", {{"cat", "dog"}}, except));
    EXPECT_EQ(content(a), GetParam().excluded ? "cat" : "dog");
    EXPECT_EQ(starting_with(obs_.status, "跳过了文件").size(), GetParam().excluded ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Names, ReplaceJobExclusion,
                         ::testing::Values(ExcludeCase{"Exact", "@/a.txt;", true},
                                           ExcludeCase{"WithoutFinalSemicolon", "@/b;@/a.txt",
                                                       true},
                                           ExcludeCase{"Duplicate", "@/a.txt;@/a.txt;", true},
                                           ExcludeCase{"OtherCase", "@/A.txt;", false},
                                           ExcludeCase{"Prefix", "@/a.tx;", false},
                                           ExcludeCase{"Longer", "@/a.txt.bak;", false},
                                           ExcludeCase{"Spaces", " @/a.txt;", false},
                                           ExcludeCase{"Folder", "@;", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReplaceJobTest, ExcludedTargetIsNeverRewritten) {
    const std::string a = dir_.write("a.txt", "cat");
    set_mtime(a, 1000000000);
    const struct stat before = stat_of(a);
    run(inputs(a + ";" + a + ";", {{"cat", "dog"}}, a + ";"));
    const struct stat after = stat_of(a);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_TRUE(same_mtime(after, before));
    EXPECT_EQ(starting_with(obs_.status, "跳过了文件").size(), 2u);  // listed twice, skipped twice
}

TEST_F(ReplaceJobTest, EveryExclusionNameBeyondAThousandCounts) {
    const std::string a = dir_.write("a.txt", "cat");
    std::string except;
    for (int i = 0; i < 1500; ++i) {
        except += (i == 1400 ? a : dir_ / ("n" + std::to_string(i))) + ";";
    }
    run(inputs(a + ";", {{"cat", "dog"}}, except));
    EXPECT_EQ(content(a), "cat");
    EXPECT_EQ(job_.except_list().size(), 1500u);
}

// --- folder items --------------------------------------------------------------------------

TEST_F(ReplaceJobTest, FolderItemTakesRegularFilesSortedByBytes) {
    const std::string folder = dir_.make_dir("docs");
    for (const char* name : {"b.txt", "a.txt", ".h", "A.txt", "_1"}) {
        dir_.write(std::string("docs/") + name, "cat");
    }
    dir_.make_dir("docs/sub");
    dir_.write("docs/sub/inner.txt", "cat");
    dir_.make_fifo("docs/fifo");
    const std::string outside = dir_.write("outside.txt", "cat");
    ASSERT_EQ(::symlink(outside.c_str(), (folder + "/link").c_str()), 0);
    ASSERT_EQ(::symlink(dir_.path().c_str(), (folder + "/dirlink").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (folder + "/dangling").c_str()), 0);

    bool finished = false;
    EXPECT_TRUE(finishes_without_blocking(dir_ / "docs/fifo", [&] {
        run(inputs(folder + "*;", {{"cat", "dog"}}));
        finished = true;
    }));
    ASSERT_TRUE(finished);
    const Lines expected = {folder + "/.h",    folder + "/A.txt", folder + "/_1",
                            folder + "/a.txt", folder + "/b.txt", folder + "/link"};
    EXPECT_EQ(job_.targets(), expected);
    EXPECT_EQ(content(outside), "dog");  // through the link
    EXPECT_EQ(content(dir_ / "docs/sub/inner.txt"), "cat");
    EXPECT_EQ(content(folder + "/.h"), "dog");
}

TEST_F(ReplaceJobTest, FolderPathEndingInSeparatorGetsNoSecondOne) {
    const std::string folder = dir_.make_dir("docs");
    dir_.write("docs/a.txt", "cat");
    run(inputs(folder + "/*;", {{"cat", "dog"}}));
    EXPECT_EQ(job_.targets(), (Lines{folder + "/a.txt"}));
    EXPECT_EQ(content(folder + "/a.txt"), "dog");
}

TEST_F(ReplaceJobTest, FolderWithOneFileGivesTheFileType) {
    const std::string folder = dir_.make_dir("docs");
    dir_.write("docs/a.txt", "cat");
    job_.start(inputs(folder + "*;", {{"cat", "dog"}}));
    EXPECT_EQ(obs_.info, (Lines{"类型--文件", "大小--1kb"}));
}

TEST_F(ReplaceJobTest, MissingFolderAddsNothing) {
    const std::string a = dir_.write("a.txt", "cat");
    run(inputs(a + ";" + dir_ / "nowhere*;", {{"cat", "dog"}}));
    EXPECT_EQ(job_.targets(), (Lines{a}));
    EXPECT_EQ(content(a), "dog");
}

TEST_F(ReplaceJobTest, ItemsAreTakenLastFirstWithFolderFilesInPlace) {
    const std::string a = dir_.write("a.txt", "1");
    const std::string folder = dir_.make_dir("docs");
    const std::string x = dir_.write("docs/x", "2");
    const std::string y = dir_.write("docs/y", "3");
    const std::string b = dir_.write("b.txt", "4");
    job_.start(inputs(a + ";" + folder + "*;" + b, {{"q", "r"}}));
    EXPECT_EQ(job_.targets(), (Lines{b, x, y, a}));
}

// --- lock, end of job and rejected starts ---------------------------------------------------

TEST_F(ReplaceJobTest, InputsAreLockedForTheJobAndTheEndRunsInOrder) {
    const std::string a = dir_.write("a.txt", "cat");
    job_.start(inputs(a + ";", {{"cat", "dog"}}));
    EXPECT_TRUE(obs_.locked);
    EXPECT_TRUE(job_.timer1_on());
    EXPECT_FALSE(job_.timer2_on());
    run_ticks(job_);
    EXPECT_FALSE(obs_.locked);
    ASSERT_GE(obs_.calls.size(), 4u);
    const Lines tail(obs_.calls.end() - 4, obs_.calls.end());
    EXPECT_EQ(tail, (Lines{"unlock", "status " + at_time(kAllDone), "clear except", "focus"}));
    int locks = 0;
    for (const std::string& call : obs_.calls) {
        locks += call == "lock" || call == "unlock" ? 1 : 0;
    }
    EXPECT_EQ(locks, 2);
}

struct RejectCase {
    const char* name;
    bool source;
    bool change;
};

class ReplaceJobRejected : public ReplaceJobTest,
                           public ::testing::WithParamInterface<RejectCase> {};

TEST_P(ReplaceJobRejected, EmptyFieldStopsTheStartWithTheInputCheck) {
    const std::string a = dir_.write("a.txt", "cat");
    run(inputs(a + ";", {{"cat", "dog"}}));  // a finished job whose lines must go
    JobInputs in = inputs(a + ";", {{"dog", "cow"}});
    in.source = GetParam().source ? in.source : "";
    in.change = GetParam().change ? in.change : "";
    obs_.calls.clear();
    job_.start(in);
    EXPECT_EQ(obs_.calls.back(), "input check " + kInputCheck);
    EXPECT_TRUE(obs_.status.empty());
    EXPECT_TRUE(obs_.info.empty());
    EXPECT_EQ(obs_.value, 0.0);
    EXPECT_FALSE(obs_.locked);
    EXPECT_FALSE(job_.running());
    EXPECT_TRUE(job_.targets().empty());
    EXPECT_EQ(content(a), "dog");
}

INSTANTIATE_TEST_SUITE_P(Fields, ReplaceJobRejected,
                         ::testing::Values(RejectCase{"NoSource", false, true},
                                           RejectCase{"NoChange", true, false},
                                           RejectCase{"Neither", false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReplaceJobTest, SecondJobUsesOnlyItsOwnEntries) {
    const std::string a = dir_.write("a.txt", "a c e");
    run(inputs(a + ";", {{"a", "b"}, {"c", "d"}, {"e", "f"}}));
    EXPECT_EQ(content(a), "b d f");
    const std::string b = dir_.write("b.txt", "a c e x");
    run(inputs(b + ";", {{"x", "y"}}));
    EXPECT_EQ(job_.replace_list(), (Entries{{"x", "y"}}));
    EXPECT_EQ(content(b), "a c e y");
}

class ReplaceJobUnreadableList : public ReplaceJobTest,
                                 public ::testing::WithParamInterface<bool> {};

TEST_P(ReplaceJobUnreadableList, StopsAfterTheUnreadableLine) {
    const std::string a = dir_.write("a.txt", "cat");
    const std::string change = GetParam() ? lists_.make_dir("folder") : lists_ / "missing.txt";
    job_.start({a + ";", "", change, {}});
    EXPECT_EQ(obs_.status, (Lines{at_time(kPreparing), at_time(kSourceUnreadable)}));
    EXPECT_TRUE(obs_.info.empty());
    EXPECT_FALSE(obs_.locked);
    EXPECT_FALSE(job_.running());
    EXPECT_TRUE(job_.targets().empty());
    EXPECT_EQ(content(a), "cat");
    EXPECT_EQ(exists(lists_ / "missing.txt"), false);
    for (const std::string& call : obs_.calls) {
        EXPECT_NE(call, "lock");
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ReplaceJobUnreadableList, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Folder" : "Missing"; });

// --- files that are left as they are -------------------------------------------------------

TEST_F(ReplaceJobTest, EmptyReplacementListFinishesEveryFileUntouched) {
    const std::string a = dir_.write("a.txt", "cat");
    const std::string b = dir_.write("b.txt", "cat");
    set_mtime(a, 1000000000);
    const struct stat before = stat_of(a);
    const JobInputs in{a + ";" + b + ";", b + ";", lists_.write("list.txt", "cat|dog"), {}};
    const TickCounts ticks = run(in);
    EXPECT_TRUE(job_.replace_list().empty());
    EXPECT_EQ(ticks.timer2, 0);
    EXPECT_FALSE(ticks.runaway);
    EXPECT_EQ(obs_.status, job_lines({skipped(b), done(a), kAllDone}));
    EXPECT_EQ(stat_of(a).st_ino, before.st_ino);
    EXPECT_TRUE(same_mtime(stat_of(a), before));
    EXPECT_FALSE(obs_.locked);
}

TEST_F(ReplaceJobTest, EmptyFindTextTakesItsTickAndChangesNothing) {
    const std::string a = dir_.write("a.txt", "aa");
    const TickCounts ticks = run(inputs(a + ";", {{"", "x"}, {"a", "b"}}));
    EXPECT_EQ(ticks.timer2, 2);
    EXPECT_EQ(content(a), "bb");
    EXPECT_EQ(obs_.values, (std::vector<double>{0, 100, 102, 104}));
}

TEST_F(ReplaceJobTest, FileWithoutReplacementsIsNotRewritten) {
    const std::string a = dir_.write("a.txt", "nothing to see");
    set_mtime(a, 1000000000);
    const struct stat before = stat_of(a);
    run(inputs(a + ";", {{"cat", "dog"}}));
    EXPECT_EQ(stat_of(a).st_ino, before.st_ino);
    EXPECT_TRUE(same_mtime(stat_of(a), before));
    EXPECT_EQ(obs_.status.at(4), at_time(done(a)));
}

TEST_F(ReplaceJobTest, EmptyFileStaysEmpty) {
    const std::string a = dir_.write("a.txt", "");
    run(inputs(a + ";", {{"a", "b"}}));
    EXPECT_EQ(content(a), "");
    EXPECT_EQ(obs_.status.at(4), at_time(done(a)));
}

}  // namespace
}  // namespace wendrel::test
