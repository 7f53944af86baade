// wendrel-batch processes killed over one folder at any moment of their run: no file is half
// written or loses its mode, and what a killed job leaves is removed by the next.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "../process_runner.h"
#include "core/file_store.h"
#include "core/replace_job.h"

namespace {

using namespace wendrel::test;
using Clock = std::chrono::steady_clock;

constexpr int kFiles = 2000;

// A job turns every "a" upper case, or back: a whole file has all or none of them changed.
const std::string kText = "abcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabc";

fs::perms mode(int i) {
    return fs::perms(i % 3 == 0 ? 0600 : i % 3 == 1 ? 0640 : 0604);
}

class ConcurrentJobs : public ::testing::Test {
  protected:
    void SetUp() override {
        // In memory where the machine allows: what is tested is how processes meet, not the disk.
        std::string name = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        name += "/wendrel-e2e-XXXXXX";
        ASSERT_NE(::mkdtemp(name.data()), nullptr);
        root_ = name;
        fs::create_directory(folder());
        for (int i = 0; i < kFiles; ++i) {
            spit(file(i), kText);
            fs::permissions(file(i), mode(i));
        }
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path folder() const { return root_ / "files"; }
    fs::path file(int i) const { return folder() / ("f" + std::to_string(i)); }

    /// Starts a job over every file of the folder with the one record `find|replacement|`.
    pid_t start(const std::string& find, const std::string& replacement) {
        spit(root_ / "list", find + "|" + replacement + "|\n");
        return start_batch({"--dir", folder(), "--change", root_ / "list"}, root_ / "out",
                           "/dev/null");
    }
    void expect_ended(pid_t job) {
        const int status = wait_for(job);
        EXPECT_TRUE(status == 0 || status == 1) << "a job ended with status " << status;
    }
    void expect_every_file_whole() {
        for (int i = 0; i < kFiles; ++i) {
            const std::string path = file(i), now = slurp(path);
            std::string whole = kText;
            if (now.find('A') != now.npos) {
                std::ranges::replace(whole, 'a', 'A');
            }
            ASSERT_EQ(now, whole) << path << " is not whole";
            ASSERT_EQ(fs::status(path).permissions(), mode(i)) << path;
        }
    }

    fs::path root_;  // the folder of targets, and beside it the list and output
};

// Jobs killed over a whole run: at most a new file per writing thread is left, and the next job
// removes it.
TEST_F(ConcurrentJobs, KilledJobLeavesEveryFileWholeAndNothingBehind) {
    const auto before = names(folder());
    const auto started = Clock::now();
    expect_ended(start("a", "A"));
    const auto whole_run =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);
    std::mt19937 random(20240611);
    std::uniform_int_distribution<long> moment(0, whole_run.count());
    for (int kill = 0; kill < 20 && !HasFatalFailure(); ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        const pid_t job = kill % 2 == 0 ? start("A", "a") : start("a", "A");
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        ::kill(job, SIGKILL);
        wait_for(job);
        std::vector<std::string> extra;
        std::ranges::set_difference(names(folder()), before, std::back_inserter(extra));
        ASSERT_LE(extra.size(), wendrel::core::ReplaceJob::kWriteThreads)
            << testing::PrintToString(extra);
        for (const auto& name : extra) {
            ASSERT_TRUE(wendrel::core::FileStore::is_temp_name(name)) << "left behind: " << name;
        }
        expect_every_file_whole();
    }
    expect_ended(start("a", "A"));
    EXPECT_EQ(names(folder()), before);
}

// Stopped by SIGINT at any moment: each file wholly old or new as its line says, nothing left
// behind, the summary counts what was done, and an undo then gives every file back byte for byte.
TEST_F(ConcurrentJobs, StoppedAtAnyMomentThenUndoneRestoresEveryFile) {
    // This test's own journal, on the targets' file system: kept files are links.
    ::setenv("XDG_STATE_HOME", (root_ / "state").c_str(), 1);
    for (int i = 0; i < kFiles; i += 7) {
        spit(file(i), kText + std::to_string(i));  // a few files unlike the rest
    }
    std::vector<std::string> before;
    for (int i = 0; i < kFiles; ++i) {
        before.push_back(slurp(file(i)));
    }
    const auto listed = names(folder());
    const auto undo = [&] {
        const int status = wait_for(start_batch({"--undo"}, root_ / "undo-out", "/dev/null"));
        ASSERT_EQ(status, 0) << slurp(root_ / "undo-out");
        for (int i = 0; i < kFiles; ++i) {
            ASSERT_EQ(slurp(file(i)), before[i]) << file(i) << " not restored";
        }
    };
    const auto started = Clock::now();
    expect_ended(start("a", "A"));
    const auto whole_run =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);
    undo();
    std::mt19937 random(20261207);
    std::uniform_int_distribution<long> moment(0, whole_run.count());
    for (int round = 0; round < 20 && !HasFatalFailure(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const pid_t job = start("a", "A");
        // From its first line on: a signal before the program runs at all ends it unheard.
        while (slurp(root_ / "out").empty()) {
            std::this_thread::yield();
        }
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        ::kill(job, SIGINT);
        const int status = wait_for(job);
        ASSERT_TRUE(status == 130 || status == 0) << status;
        const std::string out = slurp(root_ / "out");
        const auto done = paths(out, kDone);
        for (int i = 0; i < kFiles; ++i) {
            std::string whole = before[i];
            if (std::ranges::find(done, file(i).string()) != done.end()) {
                std::ranges::replace(whole, 'a', 'A');
            }
            ASSERT_EQ(slurp(file(i)), whole) << file(i);
        }
        ASSERT_EQ(names(folder()), listed);
        const std::string counted = "统计：改动了" + std::to_string(done.size()) + "个文件";
        ASSERT_NE(out.find((status == 130 ? "已停止--" : "完成了对所有文件的替换--")), out.npos);
        ASSERT_NE(out.find(counted), out.npos) << out.substr(out.size() - 300);
        if (!done.empty()) {
            undo();
        }
    }
}

}  // namespace
