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

}  // namespace
}  // namespace wendrel::test
