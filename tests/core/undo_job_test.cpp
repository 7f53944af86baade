#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "core/journal.h"
#include "core/undo_job.h"
#include "job_harness.h"

namespace wendrel::test {
namespace {

const std::string kTime = JobHarness::kTime;

struct UndoTest : JobHarness, ::testing::Test {
    UndoTest() { journal = state.path(); }

    /// Takes back `id` (empty: the last job) and gives the undo's lines, but for the last,
    /// which says that the undo itself can be taken back.
    Lines undo(const std::string& id = {}) {
        obs = RecordingObserver();
        core::UndoJob undo_job(obs, fs, [] { return kTime; });
        undo_job.start(journal, id);
        undo_job.run_to_end();
        Lines lines = obs.status;
        if (!jobs().empty() && lines.back() == undoable(jobs().back().id)) {
            lines.pop_back();
        }
        return lines;
    }
    static std::string undoable(const std::string& id) {
        return "这次替换可以撤销，记录编号" + id + "--" + kTime;
    }
    std::vector<core::JournalJob> jobs() {
        std::vector<core::JournalJob> out;
        core::Journal(fs, journal).list(out);
        return out;
    }
    /// Mounts a small tmpfs at `folder`, or says why the test cannot run.
    bool mount_tmpfs(const std::string& folder, const char* size) {
        if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, size) != 0) {
            skipped_why =
                std::string("mounting a tmpfs is not allowed here: ") + std::strerror(errno);
            return false;
        }
        mounted.push_back(folder);
        return true;
    }
    ~UndoTest() override {
        for (const auto& folder : mounted) {
            ::umount2(folder.c_str(), MNT_DETACH);
        }
    }

    TempDir state;
    std::vector<std::string> mounted;
    std::string skipped_why;
};

std::string restored(const std::string& path) {
    return "完成文件" + path + "的恢复--" + kTime;
}
std::string changed_since(const std::string& path) {
    return "文件" + path + "在替换后又被改动过，未恢复--" + kTime;
}

// Every file the job changed is back byte for byte, with its mode, through its link; a file
// changed since the job is left as it is; names with control characters survive the record.
TEST_F(UndoTest, RestoresWhatTheJobWroteAndLeavesWhatChangedSince) {
    const std::string folder = dir.make_dir("d");
    const std::string plain = dir.write("d/plain", "one cat\r\nno final newline cat"),
                      odd = dir.write("d/odd\tname\nx", std::string("cat\0cat", 7), 04750),
                      later = dir.write("d/later", "cat\n"), same = dir.write("d/same", "dog\n");
    ASSERT_EQ(::symlink(plain.c_str(), (dir / "link").c_str()), 0);
    const std::string before_plain = content(plain), before_odd = content(odd);
    run(folder + "/*;" + dir / "link" + ";", "cat|lion|\n");
    ASSERT_EQ(obs.status.back(), undoable(jobs().back().id));
    write_all(later, "edited by hand\n");

    const std::string odd_shown = dir / "d/odd\\tname\\nx";  // as every line shows it
    EXPECT_EQ(undo(), (Lines{"正在撤销替换" + jobs().front().id + "，请稍候--" + kTime,
                             changed_since(later), restored(odd_shown), restored(plain),
                             "完成了撤销--" + kTime}));
    EXPECT_EQ(obs.summary, "统计：恢复了2个文件，替换后又被改动而未恢复1个，失败0个--" + kTime);
    EXPECT_TRUE(content(plain) == before_plain);
    EXPECT_TRUE(content(odd) == before_odd);
    EXPECT_EQ(mode_of(odd), 04750u);
    EXPECT_EQ(content(later), "edited by hand\n");
    EXPECT_EQ(content(same), "dog\n");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link"));
    EXPECT_EQ(dir.names("d"), (Lines{"later", "odd\tname\nx", "plain", "same"}));

    // The undo is a job of its own: taking it back gives the job's result again.
    ASSERT_EQ(jobs().size(), 2u);
    EXPECT_EQ(jobs().front().undone_by, jobs().back().id);
    EXPECT_EQ(undo(), (Lines{"正在撤销替换" + jobs()[1].id + "，请稍候--" + kTime,
                             restored(odd_shown), restored(plain), "完成了撤销--" + kTime}));
    EXPECT_EQ(content(plain), "one lion\r\nno final newline lion");
    EXPECT_EQ(undo().size(), 4u) << "the third undo takes the second back: "
                                 << ::testing::PrintToString(obs.status);
    EXPECT_TRUE(content(plain) == before_plain);
}

// The journal on another file system keeps copies; one too small for them costs the job its
// undo and says so, but never the change itself. A real full disk, not only an injected ENOSPC.
TEST_F(UndoTest, JournalOnAnotherFileSystemOrFull) {
    const std::string small = state.make_dir("small");
    if (!mount_tmpfs(small, "size=64k")) {
        GTEST_SKIP() << skipped_why;
    }
    journal = small + "/journal";
    const std::string a = dir.write("a", "cat"), big = dir.write("big", std::string(200000, 'c'));
    run(a + ";", "cat|dog|\n");
    EXPECT_EQ(content(a), "dog");
    undo();
    EXPECT_EQ(content(a), "cat") << ::testing::PrintToString(obs.status);

    run(big + ";" + a + ";", "c|d|\n");
    EXPECT_EQ(content(big), std::string(200000, 'd'));
    EXPECT_EQ(obs.status.back(), "未能保存1个文件的原内容，这些文件的替换不能撤销--" + kTime);
    EXPECT_EQ(obs.reasons.back(), "  原因：" + std::string(std::strerror(ENOSPC)));
    undo();
    EXPECT_EQ(content(a), "cat");
    EXPECT_EQ(content(big), std::string(200000, 'd'));

    // A target on the full disk itself: its original stays, and nothing is left beside it.
    const std::string original(16 * 1024, 'a'), t = small + "/t";
    write_all(t, original);
    std::ofstream(small + "/fill") << std::string(64 * 1024, 'f');  // as much as fits
    run(t + ";", "a|b|\n");
    EXPECT_TRUE(content(t) == original);
    EXPECT_EQ(obs.status, job_lines({failed(t), kAllDone}));
    EXPECT_EQ(state.names("small"), (Lines{"fill", "journal", "t"}));
}

// A fault in any journal write leaves the job's change in place and says what cannot be undone;
// a refused link falls back to a copy, which undoes as well.
TEST_F(UndoTest, JournalFaults) {
    struct Row {
        FsCall call;
        int error;
        bool undoable;
    };
    for (const Row row : {Row{FsCall::link, EPERM, true}, Row{FsCall::link, EXDEV, true},
                          Row{FsCall::mkdir, EACCES, false}, Row{FsCall::fsync, EIO, false}}) {
        SCOPED_TRACE(static_cast<int>(row.call));
        const std::string t = dir.write("t", "cat");
        const std::size_t kept_before = jobs().size();
        // The journal's calls after the new file's own: the link after the one that names the
        // new file, the fsync after the journal's start and the new file's sync.
        fs.fail(row.call,
                row.call == FsCall::mkdir  ? 1
                : row.call == FsCall::link ? 2
                                           : 3,
                row.error);
        run(t + ";", "cat|dog|\n");
        EXPECT_TRUE(fs.hit);
        EXPECT_EQ(content(t), "dog");
        if (!row.undoable) {
            EXPECT_EQ(obs.status.back(),
                      "未能保存1个文件的原内容，这些文件的替换不能撤销--" + kTime);
            EXPECT_EQ(jobs().size(), kept_before);
            continue;
        }
        undo();
        EXPECT_EQ(content(t), "cat") << ::testing::PrintToString(obs.status);
    }
}

// A job stopped after its first file is taken back like any other; the journal keeps the last
// ten jobs, and the last is the one taken back.
TEST_F(UndoTest, StoppedJobAndJournalLimit) {
    const std::string a = dir.write("a", "cat"), b = dir.write("b", "cat");
    start(a + ";" + b + ";", "cat|dog|\n");
    while (content(a) == content(b)) {
        job.timer1_on() ? job.tick_timer1() : job.tick_timer2();
    }
    job.stop();
    EXPECT_EQ(content(a) + content(b), "catdog");
    undo();
    EXPECT_EQ(content(a) + content(b), "catcat");
    for (int i = 0; i < 12; ++i) {
        run(a + ";", i % 2 == 0 ? "cat|dog|\n" : "dog|cat|\n");
    }
    EXPECT_EQ(jobs().size(), core::Journal::kMaxJobs);
    undo();  // the newest job, though older ones of the same second were dropped
    EXPECT_EQ(content(a), "dog");
}

TEST_F(UndoTest, NothingToUndo) {
    EXPECT_EQ(undo(), Lines{"没有可以撤销的替换--" + kTime});
    EXPECT_EQ(obs.calls.back(), "preparation failed");
}

}  // namespace
}  // namespace wendrel::test
