#include <gtest/gtest.h>

#include <thread>

#include "job_harness.h"

namespace wendrel::test {
namespace {

// Two jobs at once over one folder, each with its write-back threads (run under TSan too): a file
// holds a job's change exactly when that job logged it done, and each job gave each file one
// line, done or failed.
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
        for (const auto& [obs, change] : {std::pair{&first, "a1"}, {&second, "b2"}}) {
            const auto lines = [&](const std::string& line) {
                return std::ranges::count(obs->status, line);
            };
            EXPECT_EQ(lines(JobHarness::done(path)) + lines(JobHarness::failed(path)), 1) << path;
            EXPECT_EQ(lines(JobHarness::done(path)), text.find(change) != std::string::npos)
                << path;
        }
    }
}

/// A job with writer threads whose first write-back is held in its fsync.
struct HeldWriteJob : JobHarness {
    /// Drives the job until that write is held: the first file loaded, changed and handed over.
    void start_held(const std::string& source, const std::string& records) {
        threaded.start({source, "", lists.write("list", records), {}});
        for (int i = 0; i < 2; ++i) {
            ASSERT_TRUE(threaded.timer1_on() ? threaded.tick_timer1() : threaded.tick_timer2());
        }
        held.reached.wait();
        ASSERT_TRUE(threaded.timer1_on());
    }

    HeldCall held{fs, FsCall::fsync};
    core::ReplaceJob threaded{obs, fs, [] { return kTime; }, 2};
};

// Ticks neither load a file that a held write is still rewriting (another program made a later
// target a second name of it) nor end the job before the write; they return at once, changing
// nothing. The write then refuses x, which has a second name now; y is loaded once x is let go.
TEST(ReplaceJobConcurrency, TicksReturnWhileAWriteIsHeldAndTheJobEndsAfterIt) {
    HeldWriteJob h;
    auto [threaded, held, obs] = std::tie(h.threaded, h.held, h.obs);
    const std::string y = h.dir.write("y", "cat"), x = h.dir.write("x", "cat");
    ASSERT_NO_FATAL_FAILURE(h.start_held(y + ";" + x + ";", "cat|dog|\r\n"));  // x first
    check(::unlink(y.c_str()) | ::link(x.c_str(), y.c_str()), "link");
    const Lines calls = obs.calls;
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(threaded.tick_timer1());
    }
    EXPECT_EQ(obs.calls, calls) << "a waiting tick added a line or moved the bar";
    EXPECT_TRUE(threaded.timer1_on() && !threaded.timer2_on());
    held.release();
    run_ticks(threaded);
    EXPECT_FALSE(held.gave_up);
    EXPECT_EQ(obs.status, JobHarness::job_lines(
                              {JobHarness::failed(x), JobHarness::done(y), JobHarness::kAllDone}));
    EXPECT_EQ(std::tuple(h.content(x), h.content(y)), std::tuple("cat", "dog"));
}

// A stop while a write is held lets go of the file in hand at once, but the job ends, with
// the held file's line, only once that file is wholly in place.
TEST(ReplaceJobConcurrency, AStopEndsTheJobOnlyAfterTheHeldWrite) {
    HeldWriteJob h;
    auto [threaded, held, obs] = std::tie(h.threaded, h.held, h.obs);
    const std::string b = h.dir.write("b", "cat"), a = h.dir.write("a", "cat");
    // Listed last, taken first: a, then b.
    ASSERT_NO_FATAL_FAILURE(h.start_held(b + ";" + a + ";", "cat|dog|\r\n"));
    ASSERT_TRUE(threaded.tick_timer1());
    ASSERT_TRUE(threaded.timer2_on());  // b in hand
    threaded.request_stop();
    threaded.request_stop();
    EXPECT_FALSE(threaded.tick_timer1());
    EXPECT_TRUE(threaded.running());
    EXPECT_EQ(obs.status, JobHarness::job_lines({}));
    EXPECT_EQ(h.content(a), "cat");
    held.release();
    run_ticks(threaded);
    EXPECT_FALSE(held.gave_up);
    EXPECT_EQ(obs.status,
              JobHarness::job_lines({JobHarness::done(a), "已停止--" + JobHarness::kTime}));
    EXPECT_EQ(std::tuple(h.content(a), h.content(b), obs.tally.changed),
              std::tuple("dog", "cat", 1u));
    EXPECT_EQ(h.dir.names(), (Lines{"a", "b"}));
    EXPECT_EQ(std::count(obs.calls.begin(), obs.calls.end(), "unlock"), 1);
}

}  // namespace
}  // namespace wendrel::test
