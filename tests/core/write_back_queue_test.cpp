#include <gtest/gtest.h>

#include <latch>
#include <new>
#include <random>
#include <regex>

#include "core/file_store.h"
#include "core/write_back_queue.h"
#include "job_harness.h"

namespace wendrel::test {
namespace {

// Text files, one read-only, one missing, a file named twice and through a link, one excluded;
// run with the write-backs in the tick and on worker threads.
TEST(WriteBackQueue, WorkerThreadsChangeNothingTheJobShowsOrWrites) {
    for (unsigned seed = 1; seed <= 20; ++seed) {
        RecordingObserver obs[2];
        std::vector<std::optional<std::string>> contents[2];
        TickCounts ticks[2];
        for (const std::size_t run : {0, 1}) {
            TempDir dir;
            std::mt19937 random(seed);
            const char* words[] = {"cat", "dog", "Cat", " ", "catdog", "\r\n", "x"};
            std::string source;
            std::vector<std::string> files;
            for (int i = 0; i < 12; ++i) {
                std::string text;
                for (int w = random() % 20; w > 0; --w) {
                    text += words[random() % 7];
                }
                files.push_back(dir.write("f" + std::to_string(i), text, i == 3 ? 0444 : 0644));
                source += files.back() + ";";
                if (random() % 3 == 0) {
                    source += files.back() + ";";  // the second load must see the first write
                }
            }
            symlink(files[5].c_str(), (dir / "link").c_str());
            source += dir / "link" + ";" + dir / "missing" + ";";
            {
                core::ReplaceJob job(
                    obs[run], core::PosixFileSystem::instance(), [] { return "@"; },
                    run * core::ReplaceJob::kWriteThreads);
                job.start({source,
                           files[7] + ";",
                           dir.write("list", "cat|dog|\r\ndog|cats|\r\nx||\r\n"),
                           {}});
                ticks[run] = run_ticks(job);
            }
            for (auto& line : obs[run].status) {  // the paths differ from run to run
                line = std::regex_replace(line, std::regex(dir.path()), "DIR");
            }
            for (const auto& file : files) {
                contents[run].push_back(read_all(file));
            }
        }
        // Progress values may come between other lines at other moments.
        const RecordingObserver &a = obs[1], &b = obs[0];
        EXPECT_EQ(std::tie(a.status, a.info, a.values), std::tie(b.status, b.info, b.values))
            << "seed " << seed;
        EXPECT_EQ(Lines(a.calls.end() - 4, a.calls.end()), Lines(b.calls.end() - 4, b.calls.end()));
        EXPECT_EQ(contents[1], contents[0]) << "seed " << seed;
        const TickCounts &x = ticks[1], &y = ticks[0];
        EXPECT_TRUE(x.timer1 == y.timer1 && x.timer2 == y.timer2 && !x.both_on && !x.runaway);
    }
}

// Two writes over a file loaded once, queued behind a held one: the first is written, the
// second refused as stale. Writes still queued when the queue goes are finished first.
TEST(WriteBackQueue, WritesAreTakenInTheOrderQueuedAndAllFinishedByDestruction) {
    TempDir dir;
    const std::string first = dir.write("first", "old"), path = dir.write("a", "old");
    std::latch taken(1), queued(1);
    FaultyFileSystem fs(core::PosixFileSystem::instance());
    fs.fail(FsCall::create, 1, 0, [&] {
        taken.count_down();
        queued.wait();
    });
    core::FileStore store(fs);
    {
        core::WriteBackQueue queue(store, 1, 1 << 20);
        const auto held = queue.submit(first, core::HeldText{"new"}, stat_of(first));
        taken.wait();
        const auto loaded = stat_of(path);
        const auto older = queue.submit(path, core::HeldText{"older"}, loaded);
        const auto newer = queue.submit(path, core::HeldText{"newer"}, loaded);
        for (int i = 0; i < 50; ++i) {
            const std::string file = dir.write("f" + std::to_string(i), "old");
            queue.submit(file, core::HeldText{"new " + std::to_string(i)}, stat_of(file));
        }
        queued.count_down();
        EXPECT_EQ(queue.wait(held), 0);
        EXPECT_EQ(queue.wait(older), 0);
        EXPECT_NE(queue.wait(newer), 0);
        EXPECT_EQ(queue.take_result(older), std::nullopt);
    }
    EXPECT_EQ(read_all(path), "older");
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(read_all(dir / ("f" + std::to_string(i))), "new " + std::to_string(i));
    }
    EXPECT_EQ(dir.names().size(), 52u) << "a temporary file was left behind";
}

// Over the budget, try_submit refuses and leaves the content with the caller; the write that
// ends next wakes a waiter, and the same content is taken then.
TEST(WriteBackQueue, TrySubmitRefusesOverTheBudgetAndKeepsTheContent) {
    TempDir dir;
    const std::string first = dir.write("first", "old"), second = dir.write("second", "old");
    FaultyFileSystem fs(core::PosixFileSystem::instance());
    HeldCall held(fs, FsCall::fsync);
    core::FileStore store(fs);
    core::WriteBackQueue queue(store, 1, 8);
    const auto loaded = stat_of(first);
    const auto a = queue.submit(first, core::HeldText{"new a"}, loaded);
    held.reached.wait();
    core::NewContent content = core::HeldText{"new b"};
    core::FileDescriptor none;
    EXPECT_EQ(queue.try_submit(second, content, stat_of(second), none), std::nullopt);
    EXPECT_EQ(core::footprint(content), 5u);
    EXPECT_EQ(queue.take_result(a), std::nullopt);
    EXPECT_TRUE(queue.writing_file(loaded));
    held.release();
    queue.wait_for_progress();
    EXPECT_FALSE(queue.writing_file(loaded));
    const auto b = queue.try_submit(second, content, stat_of(second), none);
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(std::tuple(queue.take_result(a), queue.wait(*b), held.gave_up),
              std::tuple(std::optional(0), 0, false));
    EXPECT_EQ(std::tuple(read_all(first), read_all(second)), std::tuple("new a", "new b"));
}

class WriteBackQueueJobTest : public ::testing::Test, public JobHarness {};

TEST_F(WriteBackQueueJobTest, AWriteBackThatThrowsFailsOnlyItsFile) {
    const std::string t = dir.write("t", "cat"), u = dir.write("u", "dog");
    fs.fail(FsCall::create, 1, EIO, [] { throw std::bad_alloc(); });  // u has no cat: t's write
    {
        core::ReplaceJob threaded(
            obs, fs, [] { return kTime; }, core::ReplaceJob::kWriteThreads);
        // Listed last, taken first: u, then t.
        threaded.start({t + ";" + u + ";", "", lists.write("list", "cat|mouse|\r\n"), {}});
        run_ticks(threaded);
    }
    EXPECT_EQ(obs.status, job_lines({done(u), failed(t), kAllDone}));
    EXPECT_EQ(read_all(t), "cat");
    EXPECT_EQ(dir.names(), (Lines{"t", "u"}));
}

}  // namespace
}  // namespace wendrel::test
