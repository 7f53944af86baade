// Two jobs at once over the same folder, each with its write-back threads (the batch program
// run twice, or the window and the batch program): run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "core/file_store.h"
#include "core/posix_file_system.h"
#include "core/replace_job.h"
#include "job_harness.h"
#include "recording_observer.h"
#include "temp_dir.h"

namespace wendrel::test {
namespace {

// Neither job may claim a write it did not make: a file holds a job's replacement only if that
// job reported the file done (a write that finds the file changed by the other job fails
// instead). Every file gets one line from each job, and no new file is left behind.
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
            if (changed) {
                EXPECT_EQ(lines("完成文件" + path + "的替换--"), 1) << path;
            }
        }
    }
}

}  // namespace
}  // namespace wendrel::test
