#include <gtest/gtest.h>

#include <thread>

#include "job_harness.h"

namespace wendrel::test {
namespace {

// A file holds a job's change exactly when that job logged it done, and each job gave each file
// one line, done or failed.
void expect_changes_match_lines(const std::string& path, const std::string& content,
                                const RecordingObserver& obs, const std::string& change) {
    const auto lines = [&](const auto& line) { return std::ranges::count(obs.status, line); };
    EXPECT_EQ(lines(JobHarness::done(path)) + lines(JobHarness::failed(path)), 1) << path;
    EXPECT_EQ(lines(JobHarness::done(path)), content.find(change) != std::string::npos) << path;
}

// Two jobs, one streaming a single entry, the other holding each file for two, take turns, and
// inside every commit of the first the second finishes its file: no change logged done is lost.
TEST(ReplaceJobConcurrency, InterleavedJobsNeverLoseAChangeLoggedAsDone) {
    JobHarness h;
    std::string source;
    for (int i = 0; i < 12; ++i) {
        source += h.dir.write("f" + std::to_string(i), "cat dog\n") + ";";
    }
    FaultyFileSystem fs_a(core::PosixFileSystem::instance());
    RecordingObserver obs_a;
    core::ReplaceJob a(
        obs_a, fs_a, [] { return JobHarness::kTime; }, 0);
    fs_a.each = [&](FsCall kind) {  // at a commit, b finishes the file it is on, or loads the next
        while (kind == FsCall::rename || kind == FsCall::exchange) {
            run_ticks(h.job, 1);
            kind = h.job.timer2_on() ? kind : FsCall::none;
        }
    };
    a.start({source, "", h.lists.write("a", "cat|lion|\r\n"), {}});
    h.start(source, "dog|wolf|\r\nzzz|q|\r\n");
    while (a.running() || h.job.running()) {
        run_ticks(a, 1);
        run_ticks(h.job, 1);
    }
    for (int i = 0; i < 12; ++i) {
        const std::string path = h.dir / ("f" + std::to_string(i)), text = h.content(path);
        expect_changes_match_lines(path, text, obs_a, "lion");
        expect_changes_match_lines(path, text, h.obs, "wolf");
        EXPECT_TRUE(text == "lion wolf\n" || text == "cat wolf\n" || text == "lion dog\n") << text;
    }
    EXPECT_EQ(h.dir.names().size(), 12u);
}

// The same with two real jobs at once, each with its write-back threads (run under TSan too).
TEST(ReplaceJobConcurrency, TwoJobsOverOneFolderNeverClaimAWriteTheyDidNotMake) {
    TempDir dir, lists;
    for (int i = 0; i < 40; ++i) {
        dir.write("f" + std::to_string(i), std::string(i * 997, '.') + "A B");
    }
    const std::string source = dir.path() + "/*;";
    RecordingObserver first, second;
    {
        const auto clock = [] { return JobHarness::kTime; };
        core::ReplaceJob job1(first, core::PosixFileSystem::instance(), clock);
        core::ReplaceJob job2(second, core::PosixFileSystem::instance(), clock);
        job1.start({source, "", lists.write("one", "A|a1|\r\n"), {}});
        job2.start({source, "", lists.write("two", "B|b2|\r\nzz|y|\r\n"), {}});
        std::jthread other([&] { job2.run_to_end(); });
        job1.run_to_end();
    }
    EXPECT_EQ(dir.names().size(), 40u);
    for (int i = 0; i < 40; ++i) {
        const std::string path = dir / ("f" + std::to_string(i)), text = read_all(path).value();
        expect_changes_match_lines(path, text, first, "a1");
        expect_changes_match_lines(path, text, second, "b2");
    }
}

}  // namespace
}  // namespace wendrel::test
