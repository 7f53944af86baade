// wendrel-batch run as a child process in the C locale, and what its output says of each file.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace wendrel::test {

namespace fs = std::filesystem;

inline std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void spit(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::set<std::string> names(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

/// Starts the program on `args`, writing to `out` and `err`, after `in_child` ran in the child.
inline pid_t start_batch(std::vector<std::string> args, const std::string& out,
                         const std::string& err, const std::function<void()>& in_child = {}) {
    std::vector<char*> argv = {const_cast<char*>(WENDREL_BATCH_BINARY)};
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    // A small quarantine keeps a sanitized build's memory near the program's own.
    std::string locale = "LC_ALL=C", asan = "ASAN_OPTIONS=quarantine_size_mb=1";
    // Where jobs keep what they replace: the test's own folder, never the user's.
    const char* state_home = std::getenv("XDG_STATE_HOME");
    std::string state = "XDG_STATE_HOME=" + std::string(state_home ? state_home : "/dev/null");
    char* envp[] = {locale.data(), asan.data(), state.data(), nullptr};
    // Emptied before the child exists: a caller that waits for the first line never reads the
    // last run's output and signals a child that has not yet set up its handlers.
    const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out_fd, 1);
        ::dup2(err_fd, 2);
        if (in_child) {
            in_child();
        }
        ::execve(argv[0], argv.data(), envp);
        ::_exit(97);
    }
    ::close(out_fd);
    ::close(err_fd);
    return pid;
}

/// The exit status of `pid`, 256 + the signal for a child a signal killed (never taken for a
/// handled stop's 130), or -1; one still running after 20 s is killed.
inline int wait_for(pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int status = 0;
    pid_t done = -1;
    while (pid > 0 && (done = ::waitpid(pid, &status, WNOHANG)) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done != pid ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 256 + WTERMSIG(status);
}

inline const std::string kDone = "完成文件", kFailed = "未能完成文件";

/// Waits up to 20 s for the output file `out` to say a file was done.
inline void wait_for_done_line(const std::string& out) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (slurp(out).find(kDone) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

/// The paths of the lines of `out` that say a file was done (`head` kDone) or failed (kFailed).
inline std::vector<std::string> paths(const std::string& out, const std::string& head) {
    std::vector<std::string> found;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (const auto end = line.rfind("的替换--"); line.starts_with(head) && end != line.npos) {
            found.push_back(line.substr(head.size(), end - head.size()));
        }
    }
    return found;
}

}  // namespace wendrel::test
