#include "core/folder_syncer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

#include "core/posix_file_system.h"
#include "faulty_file_system.h"
#include "temp_dir.h"

namespace wendrel::test {
namespace {

// The real file system, with every fsync slowed down and its span noted on a shared clock.
class SlowSyncFileSystem final : public FaultyFileSystem {
  public:
    SlowSyncFileSystem() : FaultyFileSystem(core::PosixFileSystem::instance()) {}

    std::atomic<long> clock{0};
    std::mutex mutex;
    std::vector<std::pair<long, long>> syncs;  // began, ended

    int fsync(int fd) override {
        const long began = ++clock;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const int result = real_.fsync(fd);
        const long ended = ++clock;
        std::lock_guard lock(mutex);
        syncs.emplace_back(began, ended);
        return result;
    }
};

}  // namespace

// Every caller returns only after a sync of its folder begun after it called; callers that come
// while a sync runs share the next one. Each folder is synced on its own.
TEST(FolderSyncer, EachCallerWaitsForASyncBegunAfterItAndSyncsAreShared) {
    TempDir dir;
    const std::string folders[] = {dir.make_dir("a"), dir.make_dir("b")};
    const int fds[] = {::open(folders[0].c_str(), O_RDONLY | O_DIRECTORY),
                       ::open(folders[1].c_str(), O_RDONLY | O_DIRECTORY)};
    ASSERT_TRUE(fds[0] >= 0 && fds[1] >= 0);
    SlowSyncFileSystem fs;
    core::FolderSyncer syncer(fs);

    constexpr int kThreads = 8, kCalls = 12;
    std::vector<std::pair<long, long>> calls;  // called, returned
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < kCalls; ++i) {
                    const long called = ++fs.clock;
                    syncer.sync_after_rename(folders[t % 2], fds[t % 2]);
                    const long returned = ++fs.clock;
                    std::lock_guard lock(fs.mutex);
                    calls.emplace_back(called, returned);
                }
            });
        }
    }
    ::close(fds[0]);
    ::close(fds[1]);

    ASSERT_EQ(calls.size(), std::size_t{kThreads * kCalls});
    for (const auto& [called, returned] : calls) {
        const bool covered = std::any_of(fs.syncs.begin(), fs.syncs.end(), [&](const auto& s) {
            return s.first > called && s.second < returned;
        });
        EXPECT_TRUE(covered) << "no sync began after the call at " << called
                             << " and ended before it returned at " << returned;
    }
    // Four callers a folder: each sync is shared by about two.
    EXPECT_LT(fs.syncs.size(), calls.size() * 3 / 4) << "syncs were not shared";
}

}  // namespace wendrel::test
