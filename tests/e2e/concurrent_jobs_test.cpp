// wendrel-batch processes over one folder, at once or killed: no update reported as
// done is lost, no file is half written, nothing is left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "../process_runner.h"
#include "core/file_store.h"
#include "core/replace_job.h"

namespace {

using namespace wendrel::test;
using Clock = std::chrono::steady_clock;

constexpr int kFiles = 2000;

// Job w turns letter w upper case: each letter of a file is changed everywhere or nowhere.
const std::string kText = "abcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabc";

fs::perms mode(int i) {
    return fs::perms(i % 3 == 0 ? 0600 : i % 3 == 1 ? 0640 : 0604);
}

struct Log {
    std::set<std::string> done, failed;
};

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
    std::string out(const std::string& job) const { return root_ / (job + ".out"); }

    /// Starts a job over every file of the folder with the one record `find|replacement|`.
    pid_t start(const std::string& job, const std::string& find, const std::string& replacement) {
        spit(root_ / job, find + "|" + replacement + "|\n");
        return start_batch({"--dir", folder(), "--change", root_ / job}, out(job), "/dev/null");
    }
    void expect_ended(const std::vector<pid_t>& jobs) {
        for (const pid_t job : jobs) {
            const int status = wait_for(job);
            EXPECT_TRUE(status == 0 || status == 1) << "a job ended with status " << status;
        }
    }
    Log log(const std::string& job) {
        const std::string text = slurp(out(job));
        const auto done = paths(text, kDone), failed = paths(text, kFailed);
        return {{done.begin(), done.end()}, {failed.begin(), failed.end()}};
    }

    // Each file is whole and keeps its mode, and job w made its change there or said it failed.
    void expect_no_update_lost(const std::vector<Log>& logs) {
        for (int i = 0; i < kFiles; ++i) {
            const std::string path = file(i), now = slurp(path);
            std::string whole = kText;
            for (char& c : whole) {
                c = now.find(char(c - 'a' + 'A')) != now.npos ? char(c - 'a' + 'A') : c;
            }
            ASSERT_EQ(now, whole) << path << " is not whole";
            ASSERT_EQ(fs::status(path).permissions(), mode(i)) << path;
            for (std::size_t w = 0; w < logs.size(); ++w) {
                const bool failed = logs[w].failed.contains(path);
                ASSERT_TRUE(logs[w].done.contains(path) || failed) << w << " skipped " << path;
                ASSERT_TRUE(now.find(char('A' + w)) != now.npos || failed) << w << " lost " << path;
            }
        }
        for (std::size_t w = 0; w < logs.size(); ++w) {
            EXPECT_FALSE(logs[w].done.empty()) << "job " << w << " completed no file";
        }
    }

    fs::path root_;  // the folder of targets, and beside it the lists and outputs
};

// Two jobs over the same files at once: whichever loses a race for a file says so.
TEST_F(ConcurrentJobs, TwoJobsAtOnceLoseNoUpdate) {
    for (int round = 0; round < 5 && !HasFatalFailure(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        for (int i = 0; i < kFiles; ++i) {
            spit(file(i), kText);
        }
        const pid_t a = start("a", "a", "A"), b = start("b", "b", "B");
        expect_ended({a, b});
        expect_no_update_lost({log("a"), log("b")});
    }
}

// Jobs killed over a whole run: files stay whole, at most a new file per writing thread is
// left, and the next job removes it.
TEST_F(ConcurrentJobs, KilledJobLeavesEveryFileWholeAndNothingBehind) {
    const auto before = names(folder());
    const auto started = Clock::now();
    expect_ended({start("full", "a", "A")});
    const auto whole_run =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);
    std::mt19937 random(20240611);
    std::uniform_int_distribution<long> moment(0, whole_run.count());
    for (int kill = 0; kill < 20 && !HasFatalFailure(); ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        const pid_t job = kill % 2 == 0 ? start("k", "A", "a") : start("k", "a", "A");
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
        expect_no_update_lost({});
    }
    expect_ended({start("last", "a", "A")});
    EXPECT_EQ(names(folder()), before);
}

}  // namespace
