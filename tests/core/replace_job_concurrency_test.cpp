#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <random>
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
        tick();
        tick();
        held.reached.wait();
        ASSERT_TRUE(threaded.timer1_on());
    }
    /// One tick that does its work, after those that only waited for a look ahead.
    void tick() {
        while (!(threaded.timer1_on() ? threaded.tick_timer1() : threaded.tick_timer2())) {
            threaded.wait_for_write_back();
        }
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
    h.tick();
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

// Random trees and entry lists: a job looking ahead and writing on threads gives the lines, bar
// values, tick counts and files of the same job on one thread, with the tree's path in place of
// the other's; a missing name, a file named three times and a link among them.
TEST(ReplaceJobConcurrency, ThreadedRunGivesTheOneThreadRun) {
    std::mt19937 rng(20261207);
    const std::string letters = "abcAB .\n\0";
    const auto text = [&](std::size_t most) {
        std::string t(rng() % (most + 1), ' ');
        for (char& c : t) {
            c = letters[rng() % letters.size()];
        }
        return t;
    };
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::vector<std::pair<std::string, std::string>> files;  // relative path, content
        for (int i = 0, n = 50 + static_cast<int>(rng() % 250); i < n; ++i) {
            std::string folder;
            for (int depth = static_cast<int>(rng() % 4); depth > 0; --depth) {
                folder += "d" + std::to_string(rng() % 3) + "/";
            }
            files.emplace_back(folder + "f" + std::to_string(i),
                               text(rng() % 8 == 0 ? 70000 : 300));
        }
        std::string records;
        for (int k = 0, n = 1 + static_cast<int>(rng() % 5); k < n; ++k) {
            records += text(2) + "b|" + text(3) + "|\r\n";
        }
        const core::MatchOptions options{(rng() & 1) != 0, (rng() & 2) != 0};
        struct Run {
            TempDir dir, lists;
            RecordingObserver obs;
            TickCounts ticks;
        };
        Run runs[2];
        for (const bool threaded : {false, true}) {
            Run& run = runs[threaded];
            for (const auto& [name, content] : files) {
                std::filesystem::create_directories(
                    std::filesystem::path(run.dir / name).parent_path());
                run.dir.write(name, content);
            }
            ::chmod((run.dir / files.front().first).c_str(), 0);  // fails but for root
            // One file named again at once and through a link: its next load waits for its write.
            const std::string twice = run.dir / files.back().first;
            check(::symlink(twice.c_str(), (run.dir / "link").c_str()), "symlink");
            core::JobInputs inputs{run.dir.path() + "/*;" + twice + ";" + run.dir / "link;" +
                                       twice + ";" + run.dir / "missing;",
                                   "", run.lists.write("list", records), options};
            inputs.walk.recursive = true;
            core::ReplaceJob job(
                run.obs, core::PosixFileSystem::instance(), [] { return JobHarness::kTime; },
                threaded ? 8 : 0, threaded ? 2 : 0);
            job.start(inputs);
            run.ticks = run_ticks(job);
        }
        const auto as_first = [&](Lines lines) {
            for (std::string& line : lines) {
                if (const auto at = line.find(runs[1].dir.path()); at != line.npos) {
                    line.replace(at, runs[1].dir.path().size(), runs[0].dir.path());
                }
            }
            return lines;
        };
        EXPECT_EQ(as_first(runs[1].obs.status), runs[0].obs.status);
        EXPECT_EQ(runs[1].obs.values, runs[0].obs.values);
        EXPECT_EQ(std::tie(runs[1].ticks.timer1, runs[1].ticks.timer2),
                  std::tie(runs[0].ticks.timer1, runs[0].ticks.timer2));
        for (const auto& [name, content] : files) {
            EXPECT_EQ(read_all(runs[1].dir / name), read_all(runs[0].dir / name)) << name;
        }
    }
}

}  // namespace
}  // namespace wendrel::test
