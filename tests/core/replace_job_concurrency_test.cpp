#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/posix_file_system.h"
#include "core/replace_job.h"
#include "forwarding_file_system.h"
#include "job_harness.h"
#include "recording_observer.h"
#include "temp_dir.h"

namespace wendrel::test {
namespace {

// Runs `before_commit` just before every rename or exchange: the moment between a write-back's
// last check and its commit, where another writer's change would otherwise be lost.
class CommitHookFileSystem final : public ForwardingFileSystem {
  public:
    using ForwardingFileSystem::ForwardingFileSystem;
    std::function<void()> before_commit;

    int renameat(int from_folder, const std::string& from, int to_folder,
                 const std::string& to) override {
        before_commit();
        return real_.renameat(from_folder, from, to_folder, to);
    }
    int renameat2(int from_folder, const std::string& from, int to_folder, const std::string& to,
                  unsigned flags) override {
        before_commit();
        return real_.renameat2(from_folder, from, to_folder, to, flags);
    }
};

void tick(core::ReplaceJob& job) {
    if (job.timer1_on()) {
        job.tick_timer1();
    } else if (job.timer2_on()) {
        job.tick_timer2();
    }
}

bool logged(const RecordingObserver& obs, const std::string& line) {
    return std::find(obs.status.begin(), obs.status.end(), line) != obs.status.end();
}

// Two jobs over the same files, one streaming a single entry, the other holding each file for
// two, take turns tick by tick, and inside every commit of the first the second finishes the
// file it is on.
// A file carries each job's change exactly when that job logged it done: no change is lost
// while its job reports success, and no file is left with neither.
TEST(ReplaceJobConcurrency, InterleavedJobsNeverLoseAChangeLoggedAsDone) {
    TempDir dir, lists;
    std::vector<std::string> paths;
    std::string source;
    for (int i = 0; i < 12; ++i) {
        paths.push_back(dir.write("f" + std::to_string(i), "cat dog\n"));
        source += paths.back() + ";";
    }
    const auto clock = [] { return JobHarness::kTime; };
    CommitHookFileSystem fs_a(core::PosixFileSystem::instance());
    RecordingObserver obs_a, obs_b;
    core::ReplaceJob a(obs_a, fs_a, clock, 0);
    core::ReplaceJob b(obs_b, core::PosixFileSystem::instance(), clock, 0);
    fs_a.before_commit = [&] {  // b finishes the file it is on, or loads the next
        do {
            tick(b);
        } while (b.timer2_on());
    };
    a.start({source, "", lists.write("a", "cat|lion|\r\n"), {}});
    b.start({source, "", lists.write("b", "dog|wolf|\r\nzzz|q|\r\n"), {}});
    while (a.running() || b.running()) {
        tick(a);
        tick(b);
    }
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        const std::string text = read_all(path).value_or("");
        const bool a_done = logged(obs_a, JobHarness::done(path));
        const bool b_done = logged(obs_b, JobHarness::done(path));
        EXPECT_EQ(a_done, !logged(obs_a, JobHarness::failed(path)));
        EXPECT_EQ(b_done, !logged(obs_b, JobHarness::failed(path)));
        EXPECT_EQ(text, std::string(a_done ? "lion" : "cat") + (b_done ? " wolf\n" : " dog\n"));
        EXPECT_TRUE(a_done || b_done);
    }
    EXPECT_EQ(dir.names().size(), paths.size());
}

// The same with two real jobs at once, each with its write-back threads (the batch program run
// twice, or the window and the batch program; run under ThreadSanitizer too): a file holds a
// job's replacement exactly when that job reported the file done, every file gets one line
// from each job, and no new file is left behind.
TEST(ReplaceJobConcurrency, TwoJobsOverOneFolderNeverClaimAWriteTheyDidNotMake) {
    TempDir dir, lists;
    constexpr int kFiles = 40;
    for (int i = 0; i < kFiles; ++i) {
        dir.write("f" + std::to_string(i), std::string(i * 997, '.') + "A B");
    }
    const std::string source = dir.path() + "/*;";
    RecordingObserver first, second;
    {
        core::ReplaceJob job1(first, core::PosixFileSystem::instance(), [] { return "@"; });
        core::ReplaceJob job2(second, core::PosixFileSystem::instance(), [] { return "@"; });
        job1.start({source, "", lists.write("one", "A|a1|\r\n"), {}});
        job2.start({source, "", lists.write("two", "B|b2|\r\nzz|y|\r\n"), {}});
        std::thread other([&] { job2.run_to_end(); });
        job1.run_to_end();
        other.join();
    }
    EXPECT_EQ(dir.names().size(), static_cast<std::size_t>(kFiles));  // no new file left
    for (int i = 0; i < kFiles; ++i) {
        const std::string path = dir / ("f" + std::to_string(i));
        const std::string content = read_all(path).value_or("");
        for (const auto* job : {&first, &second}) {
            const bool changed = content.find(job == &first ? "a1" : "b2") != std::string::npos;
            const auto lines = [&](const std::string& line) {
                return std::count(job->status.begin(), job->status.end(), line + "@");
            };
            EXPECT_EQ(
                lines("完成文件" + path + "的替换--") + lines("未能完成文件" + path + "的替换--"),
                1)
                << path;
            EXPECT_EQ(lines("完成文件" + path + "的替换--"), changed ? 1 : 0) << path;
        }
    }
}

}  // namespace
}  // namespace wendrel::test
