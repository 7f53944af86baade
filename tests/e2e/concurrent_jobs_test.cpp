// wendrel-batch as real processes over one folder: several at once, one stopped and continued,
// one killed. Whatever the timing, no update that a job reported as done may be lost, no file
// may be left half written, and no file may be left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/file_store.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kFiles = 2000;
constexpr auto kJobTimeout = 20s;  // a job over kFiles takes well under a second

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void spit(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

/// Starts wendrel-batch with `args`, its standard output going to the file `out`.
pid_t spawn(std::vector<std::string> args, const fs::path& out) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    args.insert(args.begin(), WENDREL_BATCH_BINARY);
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::string locale = "LC_ALL=C";  // the time of each line is then HH:MM:SS
    char* envp[] = {locale.data(), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(rc, 0) << "posix_spawn: " << std::strerror(rc);
    return rc == 0 ? pid : -1;
}

/// The wait status of `pid` once it ends, or nothing if it outlives `timeout` (it is then
/// killed and reaped, so that no test leaves a process running).
std::optional<int> wait_for(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return status;
        }
        if (done < 0 || Clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return std::nullopt;
        }
        std::this_thread::sleep_for(1ms);
    }
}

/// A job that ran to its end by itself: exit status 0, or 1 when some file failed.
void expect_ended(pid_t pid, const char* job) {
    const auto status = wait_for(pid, kJobTimeout);
    ASSERT_TRUE(status) << job << " did not end within the time limit";
    ASSERT_TRUE(WIFEXITED(*status)) << job << " ended by signal " << WTERMSIG(*status);
    EXPECT_LE(WEXITSTATUS(*status), 1) << job;
}

/// The paths of the "done" and of the failure lines of a job's output.
struct Log {
    std::set<std::string> done, failed;
};

Log read_log(const fs::path& out) {
    const std::string done = "完成文件", failed = "未能完成文件", tail = "的替换--";
    Log log;
    std::istringstream lines(slurp(out));
    for (std::string line; std::getline(lines, line);) {
        const auto end = line.rfind(tail);
        if (end == std::string::npos) {
            continue;
        }
        if (line.starts_with(done)) {
            log.done.insert(line.substr(done.size(), end - done.size()));
        } else if (line.starts_with(failed)) {
            log.failed.insert(line.substr(failed.size(), end - failed.size()));
        }
    }
    return log;
}

// Each job changes one word of every file. A file then holds, for each word, every occurrence
// changed or none: anything else is a file written from a mixture or cut short.
struct Words {
    static constexpr const char* kLower[] = {"alpha", "beta", "gamma"};
    static constexpr const char* kUpper[] = {"ALPHA", "BETA", "GAMMA"};

    static std::string text(const bool (&changed)[3]) {
        std::string line;
        for (int w = 0; w < 3; ++w) {
            line += std::string(changed[w] ? kUpper[w] : kLower[w]) + (w < 2 ? " " : "\n");
        }
        return line + line + line;
    }
    static std::string original() { return text({false, false, false}); }
};

class ConcurrentJobs : public ::testing::Test {
  protected:
    void SetUp() override {
        // In memory where the machine allows: making and removing thousands of files on a busy
        // disk takes seconds, and what is tested here is how processes meet, not the disk.
        std::string name = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        name += "/wendrel-e2e-XXXXXX";
        ASSERT_NE(::mkdtemp(name.data()), nullptr);
        root_ = name;
        fs::create_directory(folder());
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path folder() const { return root_ / "files"; }
    fs::path file(int i) const { return folder() / ("f" + std::to_string(i)); }
    std::set<std::string> names() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder())) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    /// Starts a job over every file of the folder with the one record `find|replacement|`.
    pid_t start(const std::string& name, const std::string& find, const std::string& replacement) {
        spit(root_ / (name + ".list"), find + "|" + replacement + "|\n");
        return spawn({"--dir", folder().string(), "--change", (root_ / (name + ".list")).string()},
                     out(name));
    }
    fs::path out(const std::string& name) const { return root_ / (name + ".out"); }

    // Checks each file against the jobs that ran over it (job w changes word w): the file is whole,
    // has its mode, and every job either made its change there or printed a failure line for it,
    // so no change reported done is missing. A job that did nothing at all proves nothing.
    void expect_no_update_lost(const std::vector<Log>& logs,
                               const std::map<int, mode_t>& modes = {}) {
        for (int i = 0; i < kFiles; ++i) {
            const std::string path = file(i).string(), now = slurp(path);
            bool changed[3] = {};
            for (int w = 0; w < 3; ++w) {
                changed[w] = now.find(Words::kUpper[w]) != std::string::npos;
            }
            ASSERT_EQ(now, Words::text(changed)) << path << " is not whole";
            if (const auto mode = modes.find(i); mode != modes.end()) {
                ASSERT_EQ(fs::status(path).permissions(), fs::perms(mode->second)) << path;
            }
            for (std::size_t w = 0; w < logs.size(); ++w) {
                const bool done = logs[w].done.contains(path),
                           failed = logs[w].failed.contains(path);
                ASSERT_TRUE(done || failed) << "job " << w << " reported nothing for " << path;
                ASSERT_TRUE(changed[w] || failed)
                    << "job " << w << "'s change to " << path << " lost";
            }
        }
        for (std::size_t w = 0; w < logs.size(); ++w) {
            EXPECT_FALSE(logs[w].done.empty()) << "job " << w << " completed no file";
        }
    }

    fs::path root_;  // the folder of targets, and beside it the lists and outputs
};

// Two jobs with different records over the same files at the same moment: whichever loses a
// race for a file must say so.
TEST_F(ConcurrentJobs, TwoJobsAtOnceLoseNoUpdate) {
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        for (int i = 0; i < kFiles; ++i) {
            spit(file(i), Words::original());
        }
        const pid_t a = start("a", "alpha", "ALPHA"), b = start("b", "beta", "BETA");
        ASSERT_GT(a, 0);
        ASSERT_GT(b, 0);
        expect_ended(a, "job a");
        expect_ended(b, "job b");
        expect_no_update_lost({read_log(out("a")), read_log(out("b"))});
        if (HasFatalFailure()) {
            return;
        }
    }
}

// A job stopped in the middle while two others run over the same folder to their end, then
// continued: it must not put back what it read before they ran.
TEST_F(ConcurrentJobs, JobStoppedMeanwhileLosesNoUpdate) {
    std::map<int, mode_t> modes;
    for (int i = 0; i < kFiles; ++i) {
        spit(file(i), Words::original());
        modes[i] = i % 3 == 0 ? 0600 : i % 3 == 1 ? 0640 : 0604;
        fs::permissions(file(i), fs::perms(modes[i]));
    }
    const pid_t a = start("a", "alpha", "ALPHA");
    ASSERT_GT(a, 0);
    // Its first block of output (some dozens of lines) shows it under way and far from its end.
    const auto deadline = Clock::now() + kJobTimeout;
    while (fs::file_size(out("a")) == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(100us);
    }
    ASSERT_EQ(::kill(a, SIGSTOP), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(a, &status, WUNTRACED), a);
    if (!WIFSTOPPED(status)) {
        FAIL() << "job a ended before it could be stopped";
    }
    const pid_t b = start("b", "beta", "BETA"), c = start("c", "gamma", "GAMMA");
    ASSERT_GT(b, 0);
    ASSERT_GT(c, 0);
    expect_ended(b, "job b");
    expect_ended(c, "job c");
    ::kill(a, SIGCONT);
    expect_ended(a, "job a");
    expect_no_update_lost({read_log(out("a")), read_log(out("b")), read_log(out("c"))}, modes);
}

// Jobs killed at moments spread over a whole job's run, each turning the files the other way
// as the last one left them: after each kill the folder holds its files and nothing else, and
// each file wholly one way or the other.
TEST_F(ConcurrentJobs, KilledJobLeavesEveryFileWholeAndNothingBehind) {
    const std::string old_text(300, 'o'), new_text(300, 'n');
    for (int i = 0; i < kFiles; ++i) {
        spit(file(i), old_text);
    }
    const auto before = names();
    const auto started = Clock::now();
    expect_ended(start("full", "o", "n"), "the uninterrupted job");
    const auto whole_run =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);
    std::mt19937 random(20240611);
    std::uniform_int_distribution<long> moment(0, whole_run.count());
    for (int kill = 0; kill < 20; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        const pid_t job = kill % 2 == 0 ? start("k", "n", "o") : start("k", "o", "n");
        ASSERT_GT(job, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        ::kill(job, SIGKILL);
        ASSERT_TRUE(wait_for(job, kJobTimeout));
        // A kill between naming a new file and putting it in place (a few calls) leaves that
        // name; nothing else may be left, and the next job removes it.
        const auto after = names();
        std::vector<std::string> extra;
        std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                            std::back_inserter(extra));
        ASSERT_LE(extra.size(), 1u) << testing::PrintToString(extra);
        for (const auto& name : extra) {
            ASSERT_TRUE(wendrel::core::FileStore::is_temp_name(name)) << "left behind: " << name;
        }
        for (int i = 0; i < kFiles; ++i) {
            const std::string now = slurp(file(i));
            ASSERT_TRUE(now == old_text || now == new_text) << file(i) << " is not whole";
        }
    }
    expect_ended(start("last", "o", "n"), "the job after the kills");
    EXPECT_EQ(names(), before);
}

}  // namespace
