#include <gtest/gtest.h>

#include <latch>
#include <new>

#include "core/file_store.h"
#include "core/write_back_queue.h"
#include "job_harness.h"

namespace wendrel::test {
namespace {

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
