#include "test_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <future>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "core/replace_job.h"

namespace wendrel::test {

void write_all(const std::string& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::optional<std::string> read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

struct stat stat_of(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        throw std::system_error(errno, std::generic_category(), "stat " + path);
    }
    return info;
}

void set_mtime(const std::string& path, long seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        throw std::system_error(errno, std::generic_category(), "utimensat " + path);
    }
}

bool same_mtime(const struct stat& a, const struct stat& b) {
    return a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

std::string records_text(const std::vector<core::Entry>& entries) {
    std::string text;
    for (const core::Entry& entry : entries) {
        text += entry.find + "|" + entry.replace + "|\r\n";
    }
    return text;
}

TickCounts run_ticks(core::ReplaceJob& job, int limit) {
    TickCounts counts;
    for (int i = 0; i < limit; ++i) {
        if (job.timer1_on() && job.timer2_on()) {
            counts.both_on = true;
            return counts;
        }
        if (job.timer1_on()) {
            job.tick_timer1();
            ++counts.timer1;
        } else if (job.timer2_on()) {
            job.tick_timer2();
            ++counts.timer2;
        } else {
            return counts;
        }
    }
    counts.runaway = true;
    return counts;
}

bool finishes_without_blocking(const std::string& fifo, const std::function<void()>& work) {
    std::packaged_task<void()> task(work);
    std::future<void> done = task.get_future();
    std::thread worker(std::move(task));
    bool in_time = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        // A reader blocked in open() or read() is released by a writer that comes and goes.
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
            ::close(fd);
        }
    }
    worker.join();
    done.get();
    return in_time;
}

std::vector<std::string> starting_with(const std::vector<std::string>& lines,
                                       std::string_view prefix) {
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        if (line.starts_with(prefix)) {
            out.push_back(line);
        }
    }
    return out;
}

}  // namespace wendrel::test
