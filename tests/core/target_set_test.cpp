#include "core/target_set.h"

#include <gtest/gtest.h>

#include <ostream>
#include <regex>

#include "job_harness.h"

namespace wendrel::test {
namespace {

// Who must run a row: root lists a folder of mode 000 and alone can give a link another owner.
enum class Runner { anyone, not_root, root };

// "@" stands for the test's folder, "%" for it relative to the current one.
struct TargetRow {
    const char* name;
    std::string source, except;
    // The start pass's "fold <folder>" lines, then each target's "done <path>" or "skip <path>".
    Lines lines;
    Lines changed;  // which of a, b, docs/c and list.txt are rewritten
    int targets, excepts;
    int extra_names = 0;  // names of nothing put before `except`: every name counts
    Runner runner = Runner::anyone;
    friend void PrintTo(const TargetRow& row, std::ostream* out) { *out << row.name; }
};

// Every row fails where targets are compared only as strings.
// clang-format off
const TargetRow kRows[] = {
    {"SpellingsOfOneFile", "@/a;@/./a;@//a;@/a;", "",
     {"done @/a", "skip @//a", "skip @/./a", "skip @/a"}, {"a"}, 4, 0},
    {"LinksToOneFile", "@/ha;@/la;@/a;", "", {"done @/a", "skip @/la", "skip @/ha"}, {"a"}, 3, 0},
    {"FileAndItsFolder", "@/docs/c;@/docs*;", "", {"done @/docs/c", "skip @/docs/c"},
     {"docs/c"}, 2, 0},
    {"ExclusionSpellings", "@/a;@/b;@/docs/c;", "@/./a;@//b;@/docs/../docs/c/;",
     {"skip @/docs/c", "skip @/b", "skip @/a"}, {}, 3, 1503, 1500},
    // Case and a trailing space make other names, of nothing.
    {"ExclusionSymlink", "@/a;@/docs/c;", "@/la;@/docs/C;@/docs/c ;",
     {"done @/docs/c", "skip @/a"}, {"docs/c"}, 2, 3},
    {"ExclusionOfLinkedTargets", "@/ha;@/la;@/b;", "@/a;",
     {"done @/b", "skip @/la", "skip @/ha"}, {"b"}, 3, 1},
    {"ExclusionsOfMissingFiles", "@/lost;@/gone;", "@/lost;%/docs/../gone/;",
     {"skip @/gone", "skip @/lost"}, {}, 2, 2},
    {"ContentFileListed", "@/./list.txt;@/a;", "", {"done @/a", "skip @/./list.txt"}, {"a"}, 2, 0},
    {"ContentFileInFolder", "@*;", "",
     {"done @/a", "done @/b", "skip @/ha", "skip @/la", "skip @/list.txt"}, {"a", "b"}, 5, 0},
    {"MissingFolderAndFileAsFolder", "@/b;@/a*;@/nowhere*;", "",
     {"fold @/nowhere", "fold @/a", "done @/b"}, {"b"}, 1, 0},
    {"UnlistableFolder", "@/b;@/locked*;", "", {"fold @/locked", "done @/b"}, {"b"}, 1, 0, 0,
     Runner::not_root},
    // shared/own links to b, with b's owner; shared/foreign links to a, owned by another user.
    {"LinkOfAnotherOwnerInFolder", "@/shared*;", "",
     {"skip @/shared/foreign", "done @/shared/own"}, {"b"}, 2, 0, 0, Runner::root},
    {"LinkOfAnotherOwnerNamed", "@/shared/foreign;", "", {"done @/shared/foreign"}, {"a"}, 1, 0,
     0, Runner::root},
    {"LinkOfTheFileOwnerInFolder", "@/shared*;", "@/shared/foreign;",
     {"skip @/shared/foreign", "done @/shared/own"}, {"b"}, 2, 1},
};
// clang-format on

class TargetSetTest : public ::testing::TestWithParam<TargetRow>, public JobHarness {
  protected:
    void SetUp() override {
        dir.make_dir("docs");
        dir.make_dir("locked");
        dir.make_dir("shared");
        for (const char* name : {"a", "b", "docs/c", "locked/x"}) {
            dir.write(name, "World");
        }
        check(::link((dir / "a").c_str(), (dir / "ha").c_str()), "link");
        check(::symlink((dir / "a").c_str(), (dir / "la").c_str()), "symlink");
        check(::symlink("../b", (dir / "shared/own").c_str()), "symlink");
        check(::symlink((dir / "a").c_str(), (dir / "shared/foreign").c_str()), "symlink");
        if (::geteuid() == 0) {
            check(::lchown((dir / "shared/foreign").c_str(), 65534, 65534), "lchown");
        }
        dir.write("list.txt", "World|Earth|\r\n");
        check(::chmod((dir / "locked").c_str(), 0), "chmod");
    }
    void TearDown() override { ::chmod((dir / "locked").c_str(), 0755); }

    std::string expand(const std::string& text) const {
        const auto relative =
            std::filesystem::relative(dir.path(), std::filesystem::current_path());
        return std::regex_replace(std::regex_replace(text, std::regex("@"), dir.path()),
                                  std::regex("%"), relative.string());
    }
};

TEST_P(TargetSetTest, EachFileIsProcessedAtMostOnceAndOnlyWhenMeant) {
    const TargetRow& row = GetParam();
    if (row.runner != Runner::anyone && (row.runner == Runner::root) != (::geteuid() == 0)) {
        GTEST_SKIP() << "only root gives a link another owner, and root lists a folder of mode 000";
    }
    std::string except;
    for (int i = 0; i < row.extra_names; ++i) {
        except += dir / ("n" + std::to_string(i)) + ";";
    }
    job.start({expand(row.source), except + expand(row.except), dir / "list.txt", {}});
    run_ticks(job);

    // A reason and the failure signal after each folder's line.
    Lines expected(kOpening.begin(), kOpening.begin() + 3), later, got;
    std::size_t done_count = 0, skip_count = 0;
    for (const std::string& code : row.lines) {
        const std::string path = expand(code.substr(5));
        if (code.starts_with("fold")) {
            expected.insert(expected.end(),
                            {"未能读取文件夹" + path + "--" + kTime, "reason", "failed"});
        } else {
            later.push_back(code.starts_with("done") ? done(path) : skipped(path));
            ++(code.starts_with("done") ? done_count : skip_count);
        }
    }
    expected.push_back(kOpening[3]);
    expected.insert(expected.end(), later.begin(), later.end());
    expected.insert(expected.end(), {kAllDone, obs.summary});
    for (const std::string& call : obs.calls) {
        const bool status = call.starts_with("status "), reason = call.starts_with("reason ");
        if (status || reason || call == "preparation failed") {
            got.push_back(status ? call.substr(7) : reason ? "reason" : "failed");
        }
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(
        std::tuple(obs.tally.changed, obs.tally.skipped, obs.tally.failed + obs.tally.unchanged),
        std::tuple(done_count, skip_count, 0u));
    for (const char* name : {"a", "b", "docs/c", "list.txt"}) {
        const bool changed = content(dir / name).find("World") == std::string::npos;
        EXPECT_EQ(changed, std::count(row.changed.begin(), row.changed.end(), name) == 1) << name;
    }
    EXPECT_EQ(dir.names(), (Lines{"a", "b", "docs", "ha", "la", "list.txt", "locked", "shared"}));
    const std::string targets = std::to_string(row.targets), excepts = std::to_string(row.excepts);
    const Lines info = row.targets > 1 ? Lines{"类型--文件夹/文件", "包含文件--" + targets,
                                               "除去文件--" + excepts, "大小--1kb"}
                                       : Lines{"类型--文件", "大小--1kb"};
    EXPECT_EQ(obs.info, info);
}

INSTANTIATE_TEST_SUITE_P(Rows, TargetSetTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace wendrel::test
