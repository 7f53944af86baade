#include "core/folder_syncer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "core/posix_file_system.h"
#include "temp_dir.h"

namespace wendrel::test {
namespace {

// The real file system, with every fsync slowed down and its span noted on a shared clock.
class SlowSyncFileSystem final : public core::FileSystem {
  public:
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
    int open(const std::string& path, int flags, mode_t mode) override {
        return real_.open(path, flags, mode);
    }
    long read(int fd, void* buffer, std::size_t size) override {
        return real_.read(fd, buffer, size);
    }
    long write(int fd, const void* buffer, std::size_t size) override {
        return real_.write(fd, buffer, size);
    }
    int fstat(int fd, struct stat* info) override { return real_.fstat(fd, info); }
    int fchmod(int fd, mode_t mode) override { return real_.fchmod(fd, mode); }
    int fchown(int fd, uid_t owner, gid_t group) override { return real_.fchown(fd, owner, group); }
    int close(int fd) override { return real_.close(fd); }
    int stat(const std::string& path, struct stat* info) override { return real_.stat(path, info); }
    int access(const std::string& path, int mode) override { return real_.access(path, mode); }
    int rename(const std::string& from, const std::string& to) override {
        return real_.rename(from, to);
    }
    int unlink(const std::string& path) override { return real_.unlink(path); }
    int realpath(const std::string& path, std::string& resolved) override {
        return real_.realpath(path, resolved);
    }
    int list_names(const std::string& folder, std::vector<std::string>& names) override {
        return real_.list_names(folder, names);
    }
    bool running_as_root() override { return real_.running_as_root(); }

  private:
    core::FileSystem& real_ = core::PosixFileSystem::instance();
};

}  // namespace

// Every caller returns only after a sync of its folder that began after it called, so each
// rename before a call is durable when the call returns; callers that come while a sync runs
// share the next one. Folders are synced apart, and one that cannot be opened is passed over.
TEST(FolderSyncer, EachCallerWaitsForASyncBegunAfterItAndSyncsAreShared) {
    TempDir dir;
    const std::string folders[] = {dir.make_dir("a"), dir.make_dir("b")};
    SlowSyncFileSystem fs;
    core::FolderSyncer syncer(fs);

    constexpr int kThreads = 8, kCalls = 12;
    std::mutex mutex;
    std::vector<std::pair<long, long>> calls;  // called, returned
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCalls; ++i) {
                const long called = ++fs.clock;
                syncer.sync_after_rename(folders[t % 2]);
                const long returned = ++fs.clock;
                std::lock_guard lock(mutex);
                calls.emplace_back(called, returned);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    syncer.sync_after_rename(dir / "missing");  // cannot be opened: no sync, no wait

    ASSERT_EQ(calls.size(), std::size_t{kThreads * kCalls});
    for (const auto& [called, returned] : calls) {
        const bool covered = std::any_of(fs.syncs.begin(), fs.syncs.end(), [&](const auto& s) {
            return s.first > called && s.second < returned;
        });
        EXPECT_TRUE(covered) << "no sync began after the call at " << called
                             << " and ended before it returned at " << returned;
    }
    EXPECT_LT(fs.syncs.size(), calls.size() / 2) << "syncs were not shared";
}

}  // namespace wendrel::test
