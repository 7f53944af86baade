// The wendrel-batch program under the limits a user or a service manager can set on it: each
// is met with failure lines and exit status 1, never with an abort, a kill or a file left
// behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr rlim_t kMiB = 1 << 20;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void spit(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

bool sanitized() {
#ifdef WENDREL_SANITIZED
    return true;
#else
    return false;
#endif
}

struct Limits {
    std::optional<rlim_t> address_space;
    std::optional<rlim_t> file_size;
    std::string cgroup_procs;  // a memory cgroup's cgroup.procs to join, when not empty
};

struct Outcome {
    int status = 0;  // as waitpid gives it
    std::string out, err;
    bool exited(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
    std::string what() const {
        return (WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                    : "exit " + std::to_string(WEXITSTATUS(status))) +
               "\nstdout:\n" + out + "stderr:\n" + err;
    }
};

class BatchLimits : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/wendrel-limits-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        fs::create_directories(root_ / "targets");
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path target(const std::string& name, const std::string& content) {
        spit(root_ / "targets" / name, content);
        return root_ / "targets" / name;
    }
    std::vector<std::string> target_names() {
        std::vector<std::string> names;
        for (const auto& item : fs::directory_iterator(root_ / "targets")) {
            names.push_back(item.path().filename());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // Runs the program over the targets folder in a child that sets `limits` before exec.
    Outcome launch_batch(const std::string& list, const Limits& limits) {
        spit(root_ / "list", list);
        const std::string out = root_ / "out", err = root_ / "err";
        std::vector<std::string> args = {WENDREL_BATCH_BINARY, "--change", root_ / "list", "--dir",
                                         root_ / "targets"};
        std::vector<char*> argv;
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        // A small quarantine keeps a sanitized build's memory near the program's own.
        std::string locale = "LC_ALL=C", asan = "ASAN_OPTIONS=quarantine_size_mb=1";
        char* envp[] = {locale.data(), asan.data(), nullptr};
        const std::string pid_text = std::to_string(getpid());  // made before fork
        const pid_t child = fork();
        if (child == 0) {
            const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out_fd, 1);
            dup2(err_fd, 2);
            if (!limits.cgroup_procs.empty()) {
                // "0" moves the writing process itself.
                const int procs = open(limits.cgroup_procs.c_str(), O_WRONLY);
                if (procs < 0 || write(procs, "0", 1) != 1) {
                    _exit(99);
                }
                close(procs);
            }
            for (const auto& [resource, value] : {std::pair{RLIMIT_AS, limits.address_space},
                                                  std::pair{RLIMIT_FSIZE, limits.file_size}}) {
                const rlimit limit{value.value_or(RLIM_INFINITY), value.value_or(RLIM_INFINITY)};
                if (value && setrlimit(resource, &limit) != 0) {
                    _exit(98);
                }
            }
            execve(argv[0], argv.data(), envp);
            _exit(97);
        }
        Outcome result;
        waitpid(child, &result.status, 0);
        result.out = slurp(out);
        result.err = slurp(err);
        return result;
    }

    fs::path root_;
};

std::string failed(const fs::path& path) {
    return "未能完成文件" + path.string() + "的替换--";
}
std::string done(const fs::path& path) {
    return "完成文件" + path.string() + "的替换--";
}

// With too little address space for its write-back threads the program writes in the tick;
// a file too large for what is left fails, and the others are done.
TEST_F(BatchLimits, AddressSpaceLimitGivesFailureLinesNotAnAbort) {
    if (sanitized()) {
        GTEST_SKIP() << "a sanitized build reserves terabytes of address space: no RLIMIT_AS run";
    }
    const fs::path small = target("small", "a cat"),
                   large = target("large", std::string(40 << 20, 'c'));
    const Outcome run = launch_batch("cat|dog|\r\nzz|y|\r\n", {60 * kMiB, std::nullopt, ""});
    EXPECT_TRUE(run.exited(1)) << run.what();
    EXPECT_NE(run.out.find(done(small)), std::string::npos) << run.what();
    EXPECT_NE(run.out.find(failed(large)), std::string::npos) << run.what();
    EXPECT_EQ(slurp(small), "a dog");
    EXPECT_EQ(fs::file_size(large), 40u << 20);
    EXPECT_EQ(target_names(), (std::vector<std::string>{"large", "small"}));
}

// A new content longer than RLIMIT_FSIZE fails the file: with one entry (copied from the file)
// and with two (written from memory).
TEST_F(BatchLimits, FileSizeLimitFailsTheFileAndLeavesNothingBehind) {
    const std::string long_text(100000, 'y');
    for (const std::string& list :
         {"x|" + long_text + "|\r\n", "x|" + long_text + "|\r\nq|r|\r\n"}) {
        const fs::path file = target("f", "a x b");
        const Outcome run = launch_batch(list, {std::nullopt, 16 * 1024, ""});
        EXPECT_TRUE(run.exited(1)) << run.what();
        EXPECT_NE(run.out.find(failed(file)), std::string::npos) << run.what();
        EXPECT_EQ(slurp(file), "a x b");
        EXPECT_EQ(target_names(), (std::vector<std::string>{"f"}));
    }
}

// A memory cgroup below a file's size, and a replacement that would multiply a file past it:
// both files fail before they take the memory (the out-of-memory killer would end the program),
// and a small file is done.
TEST_F(BatchLimits, MemoryCgroupBelowTheFileGivesFailureLinesNotAKill) {
    std::string own;  // this process's memory cgroup (v1), where a group of ours may be made
    std::istringstream lines(slurp("/proc/self/cgroup"));
    for (std::string line; std::getline(lines, line);) {
        if (const auto at = line.find(":memory:"); at != std::string::npos) {
            own = line.substr(at + 8);
        }
    }
    const fs::path group =
        fs::path("/sys/fs/cgroup/memory" + own) / ("wendrel-limits-" + std::to_string(getpid()));
    std::error_code error;
    if (own.empty() || !fs::create_directory(group, error)) {
        GTEST_SKIP() << "no memory cgroup (v1) this test may create a group in: " << group;
    }
    spit(group / "memory.limit_in_bytes", std::to_string(64 * kMiB));
    const bool limited = slurp(group / "memory.limit_in_bytes") == std::to_string(64 * kMiB) + "\n";
    const fs::path small = target("small", "x"),
                   large = target("large", std::string(48 << 20, 'b')),
                   multiplied = target("multiplied", std::string(100, 'a'));
    const Outcome run = limited ? launch_batch("a|" + std::string(1 << 20, 'y') + "|\r\nx|z|\r\n",
                                               {std::nullopt, std::nullopt, group / "cgroup.procs"})
                                : Outcome{};
    fs::remove(group, error);
    if (!limited) {
        GTEST_SKIP() << "could not set a memory limit on " << group;
    }
    EXPECT_TRUE(run.exited(1)) << run.what();
    EXPECT_NE(run.out.find(done(small)), std::string::npos) << run.what();
    EXPECT_NE(run.out.find(failed(large)), std::string::npos) << run.what();
    EXPECT_NE(run.out.find(failed(multiplied)), std::string::npos) << run.what();
    EXPECT_EQ(slurp(small), "z");
    EXPECT_EQ(fs::file_size(large), 48u << 20);
    EXPECT_EQ(slurp(multiplied), std::string(100, 'a'));
    EXPECT_EQ(target_names(), (std::vector<std::string>{"large", "multiplied", "small"}));
}

}  // namespace
