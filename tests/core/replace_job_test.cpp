#include "core/replace_job.h"
#include "core/failure_reason.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <new>

#include "core/posix_file_system.h"
#include "job_harness.h"

namespace wendrel::test {

using Values = std::vector<double>;

class ReplaceJobTest : public ::testing::Test, public JobHarness {};

// A second name of c and an excluded x are skipped in the tick that loads b and count in neither
// size nor bar; a missing name fails, its control characters written out.
TEST_F(ReplaceJobTest, SixTargetsThreeEntriesWithEveryCallInOrder) {
    const std::string a = dir.write("a", "cat"), b = dir.write("b", "cow");
    const std::string c = dir.write("c", "cat"), x = dir.write("x", "cat");
    start(a + ";" + b + ";" + x + ";" + dir / "./c;" + c + ";" + dir / "m\n\x1b[2J;",
          "cat|dog|\r\ndog|cow|\r\n|x|\r\n", x + ";");
    const TickCounts ticks = run_ticks(job);
    EXPECT_EQ(ticks.timer1, 5);
    EXPECT_EQ(ticks.timer2, 9);
    EXPECT_FALSE(ticks.both_on || ticks.runaway);
    // Targets go last first; each entry adds the file's length to the bar.
    // clang-format off
    const Lines expected = {
        "value 0", "clear status", "clear info",
        "status " + kOpening[0], "status " + kOpening[1],
        "warning 替换内容来源第3行：查找内容为空，此记录不会替换任何内容--" + kTime,
        "status " + kOpening[2],
        "info 类型--文件夹/文件", "info 包含文件--6", "info 除去文件--1", "info 大小--1kb",
        "max 127", "lock", "status " + kOpening[3], "value 100",
        "status " + failed(dir / "m\\n\\x1b[2J"), "reason " + core::reason_line(ENOENT),
        "value 103", "value 106", "value 109", "status " + done(c),
        "status " + skipped(dir / "./c"), "status " + skipped(x),
        "value 112", "value 115", "value 118", "status " + done(b),
        "value 121", "value 124", "value 127", "status " + done(a),
        "unlock", "status " + kAllDone,
        "status 统计：失败1个文件，改动了2个文件，未改动1个，跳过2个，共替换4处；"
        "替换内容来源有1处警告--" + kTime,
        "clear except", "focus"};
    // clang-format on
    EXPECT_EQ(obs.calls, expected);
    EXPECT_EQ(content(a) + content(b) + content(c) + content(x), "cowcowcowcat");
}

TEST_F(ReplaceJobTest, SizeLineRoundsDownToKilobytesAndAddsOne) {
    for (const auto& [size, kilobytes] :
         {std::pair{0, "1"}, {1023, "1"}, {1024, "2"}, {2048, "3"}, {10 << 20, "10241"}}) {
        run(dir.write("a", std::string(size, 'x')) + ";", "q|r|\r\n");
        EXPECT_EQ(obs.info, (Lines{"类型--文件", std::string("大小--") + kilobytes + "kb"}));
        EXPECT_EQ(obs.values.back(), size + 100.0);  // the bar ends at its maximum
    }
}

// Not the subfolder, nor the FIFO (which must not block the listing); a link is followed.
TEST_F(ReplaceJobTest, FolderItemsTakeTheRegularFilesInByteOrder) {
    const std::string docs = dir.make_dir("docs"), outside = dir.write("outside", "cat");
    for (const std::string name : {"b", "a", ".h", "A", "_1"}) {
        dir.write("docs/" + name, "cat");
    }
    dir.make_dir("docs/sub");
    const std::string inner = dir.write("docs/sub/in", "cat"), fifo = dir.make_fifo("docs/fifo");
    check(::symlink(outside.c_str(), (docs + "/link").c_str()), "symlink");
    const std::string empty = dir.make_dir("empty"), one = dir.make_dir("one") + "/a";
    write_all(one, "cat");
    const Lines all = {docs + "/.h", docs + "/A", docs + "/_1",
                       docs + "/a",  docs + "/b", docs + "/link"};
    // A folder path that ends in "/", like the root, gets no second one.
    const std::pair<std::string, Lines> rows[] = {
        {docs + "*;", all}, {docs + "/*", all}, {empty + "*;", {}}, {dir / "one*;", {one}}};
    EXPECT_TRUE(finishes_without_blocking(fifo, [&] {
        for (const auto& [source, targets] : rows) {
            run(source, "cat|dog|\r\n");
            EXPECT_EQ(job.targets(), targets) << source;
            EXPECT_EQ(job.progress_max(), 3.0 * targets.size() + 100) << source;  // by the link too
        }
    }));
    EXPECT_EQ(content(outside) + content(inner), "dogcat");
}

// An empty field, an unreadable replacement-content file or running out of memory while the
// targets are listed: each way only the reset has happened, then its own message.
TEST_F(ReplaceJobTest, RejectedStartLeavesOnlyTheResetAndItsMessage) {
    const std::string a = dir.write("a", "cat"), list = lists.write("ok", "cat|dog|\r\n");
    const std::string missing = lists / "missing", fifo = lists.make_fifo("fifo");
    const Lines check = {"input check 请选择要替换的文件和替换来源"};
    // clang-format off
    const auto unreadable = [&](int error) {
        return Lines{"status " + kOpening[0], "status 未能读取替换内容来源--" + kTime,
                     "reason " + core::reason_line(error), "preparation failed"};
    };
    const Lines out_of_memory = {"status " + kOpening[0], "status " + kOpening[1],
        "status " + kOpening[2], "status 未能完成替换的准备工作--" + kTime,
        "reason " + core::reason_line(ENOMEM), "preparation failed", "unlock"};
    const std::tuple<std::string, std::string, Lines> rows[] = {
        {a, "", check},                   {"", list, check},
        {a, missing, unreadable(ENOENT)},
        {a, fifo, unreadable(core::failure::kNotRegularFile)},
        {a, lists.make_dir("folder"), unreadable(EISDIR)},
        {a + ";" + dir.path() + "*;", list, out_of_memory}};
    // clang-format on
    fs.fail(FsCall::list, 1, 0, [] { throw std::bad_alloc(); });  // only the last row lists
    for (const auto& [source, change, message] : rows) {
        SCOPED_TRACE(source + " " + change);
        obs.calls.clear();
        EXPECT_TRUE(finishes_without_blocking(fifo, [&] { job.start({source, "", change, {}}); }));
        Lines expected = {"value 0", "clear status", "clear info"};
        expected.insert(expected.end(), message.begin(), message.end());
        EXPECT_EQ(obs.calls, expected);
        EXPECT_FALSE(job.running());
        EXPECT_TRUE(job.targets().empty());
    }
    EXPECT_TRUE(fs.hit);
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_EQ(content(a), "cat");
}

// 1500 entries over a file that grew after the start pass counted it (the bar refuses a value
// past its maximum and keeps the one it has), then a shorter list, then one without a complete
// record, which must not hang, then a dry run of a file another job holds, which reports as
// usual and writes nothing, then entries given without a file.
TEST_F(ReplaceJobTest, EveryJobUsesOnlyItsOwnEntries) {
    std::string chain;  // each record turns k<i>. into k<i+1>.
    for (int i = 0; i < 1500; ++i) {
        chain += "k" + std::to_string(i) + ".|k" + std::to_string(i + 1) + ".|\r\n";
    }
    const std::string a = dir.write("a", "k0. x"), b = dir.write("b", "x"), dots(8000, '.');
    start(a + ";", chain);
    ASSERT_EQ(job.progress_max(), 5.0 * 1500 + 100);
    write_all(a, "k0. x" + dots);
    run_ticks(job);
    EXPECT_EQ(obs.values, (Values{0, 100}));
    EXPECT_EQ(content(a), "k1500. x" + dots);
    run(a + ";", "x|y|\r\n");
    EXPECT_EQ(content(a), "k1500. y" + dots);
    const ino_t inode = inode_of(a);
    EXPECT_FALSE(run(a + ";" + b + ";", "y|x", b + ";").runaway);
    EXPECT_EQ(obs.status, job_lines({skipped(b), done(a), kAllDone}));
    // The dry run reads a file another job holds: it takes nothing from a job that writes.
    const int other = ::open(a.c_str(), O_RDWR | O_CLOEXEC);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    check(::fcntl(other, F_OFD_SETLK, &whole), "fcntl");
    job.start({a + ";", "", lists.write("list.txt", "y|z|\r\n"), {}, true});
    run_ticks(job);
    ::close(other);
    EXPECT_EQ(obs.status, job_lines({"将会改动文件" + a + "--" + kTime, kAllDone}));
    EXPECT_EQ(obs.summary,
              "统计（未写入）：将会改动1个文件，未改动0个，跳过0个，失败0个，共替换1处--" + kTime);
    EXPECT_EQ(inode_of(a), inode);
    // Entries given directly are the job's own: the file named beside them is not read.
    core::JobInputs direct{a + ";", "", lists / "missing", {}};
    direct.entries = std::vector<core::Entry>{{"k1500.", "done"}};
    job.start(direct);
    run_ticks(job);
    EXPECT_EQ(content(a), "done y" + dots);
}

// A previewed dry run shows each loaded target as the real run then writes it, with several
// entries and with one (which the real run streams); its calls are those of a plain dry run.
TEST_F(ReplaceJobTest, PreviewShowsWhatTheRealRunWrites) {
    for (const std::string records :
         {"cat|dog|\r\ndog|cow|\r\nco|\xe7\x8c\xab|\r\n", "at|a|\r\n"}) {
        const std::string a = dir.write("a", "cat dog\r\ncatcat\n"), b = dir.write("b", "bird");
        // r cannot be written: the preview says it would fail, as the real run then does.
        const std::string x = dir.write("x", "cat"), r = dir.write("r", "cat", 0444),
                          source = a + ";" + b + ";" + x + ";" + r + ";" + dir / "gone;";
        std::vector<std::string> plain_calls;
        for (const bool preview : {false, true}) {
            obs = RecordingObserver();
            job.start({source, x + ";", lists.write("list.txt", records), {}, true, preview});
            run_ticks(job);
            EXPECT_EQ(obs.previews.size(), preview ? 3U : 0U);
            plain_calls = preview ? plain_calls : obs.calls;
        }
        EXPECT_EQ(obs.calls, plain_calls);
        auto previews = obs.previews;
        const core::messages::Tally foreseen = obs.tally;
        previews.erase(r);
        EXPECT_EQ(previews.at(b).before + previews.at(b).after, "birdbird");
        EXPECT_EQ(previews.at(a).before + content(x), "cat dog\r\ncatcat\ncat");
        run(source, records, x + ";");
        std::size_t replacements = 0;
        for (const auto& [path, preview] : previews) {
            EXPECT_EQ(content(path), preview.after) << path << records;
            replacements += preview.replacements;
        }
        EXPECT_EQ(replacements, obs.tally.replacements);
        EXPECT_EQ(obs.tally.changed, 1U);
        EXPECT_EQ(content(r), "cat");
        EXPECT_EQ(std::tuple(foreseen.changed, foreseen.failed),
                  std::tuple(obs.tally.changed, obs.tally.failed));
    }
}

// Stopped after `ticks` ticks: only the files whose line was added are new, the rest wholly old;
// nothing else is left in the folder, no file stays locked, and the window is given back.
TEST_F(ReplaceJobTest, StopEndsTheJobBetweenAnyTwoTicksWithNoFileHalfDone) {
    // when, ticks, write-back threads, files done
    const std::tuple<const char*, int, std::size_t, std::size_t> rows[] = {
        {"before the first load", 0, 0, 0},
        {"between the entries of a file", 2, 0, 0},
        {"with a write-back queued", 3, 4, 1},
        {"after the last file", 9, 4, 3}};
    for (const auto& [when, ticks, threads, done_count] : rows) {
        SCOPED_TRACE(when);
        const Lines paths = {dir.write("a", "cat"), dir.write("b", "cat"), dir.write("c", "cat")};
        obs = RecordingObserver();
        core::ReplaceJob stopped(
            obs, core::PosixFileSystem::instance(), [] { return kTime; }, threads);
        stopped.start({paths[0] + ";" + paths[1] + ";" + paths[2] + ";",
                       "",
                       lists.write("list.txt", "cat|dog|\r\ndog|cow|\r\n"),
                       {}});
        for (int i = 0; i < ticks;) {  // ticks that did their work, not those that waited
            if (stopped.timer1_on() ? stopped.tick_timer1() : stopped.tick_timer2()) {
                ++i;
            } else {
                stopped.wait_for_write_back();
            }
        }
        ASSERT_TRUE(stopped.running());
        stopped.stop();
        Lines later;
        for (std::size_t i = 0; i < done_count; ++i) {
            later.push_back(done(paths[2 - i]));
        }
        later.push_back("已停止--" + kTime);
        EXPECT_EQ(obs.status, job_lines(later));
        EXPECT_EQ(std::tuple(obs.tally.changed, obs.tally.replacements,
                             obs.tally.unchanged + obs.tally.failed + obs.tally.skipped),
                  std::tuple(done_count, 2 * done_count, 0u));
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(content(paths[2 - i]), i < done_count ? "cow" : "cat") << i;
            const int fd = ::open(paths[i].c_str(), O_RDWR);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            EXPECT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0) << i;  // no lock left behind
            ::close(fd);
        }
        EXPECT_EQ(dir.names(), (Lines{"a", "b", "c"}));
        EXPECT_EQ(Lines(obs.calls.end() - 3, obs.calls.end()),
                  (Lines{"status " + obs.summary, "clear except", "focus"}));
        EXPECT_EQ(std::count(obs.calls.begin(), obs.calls.end(), "unlock"), 1);
        EXPECT_FALSE(stopped.running());
        const std::size_t calls = obs.calls.size();
        stopped.stop();  // idle now: nothing more happens
        EXPECT_EQ(obs.calls.size(), calls);
    }
}

}  // namespace wendrel::test
