#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>

#include "core/replace_job.h"

namespace wendrel::test {

/// Throws when a set-up call made for a test failed (`rc` is the call's return value).
inline void check(int rc, const std::string& what) {
    if (rc != 0) {
        throw std::system_error(errno, std::generic_category(), what);
    }
}

inline void write_all(const std::string& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    check(out ? 0 : -1, "write " + path);
}

inline std::optional<std::string> read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return in ? std::optional(content.str()) : std::nullopt;
}

inline struct stat stat_of(const std::string& path) {
    struct stat info {};
    check(::stat(path.c_str(), &info), "stat " + path);
    return info;
}

struct TickCounts {
    int timer1 = 0, timer2 = 0;  // ticks that did not wait for a write-back
    bool both_on = false;        // the two timers were on at the same time
    bool runaway = false;        // the job did not end within the tick limit
};

/// Drives a started job like the window's timers do, one tick at a time, until it is idle; a
/// tick that waits for a write-back is made again once one has ended.
inline TickCounts run_ticks(core::ReplaceJob& job, int limit = 100000) {
    TickCounts counts;
    while (job.running() && counts.timer1 + counts.timer2 < limit) {
        counts.both_on = counts.both_on || (job.timer1_on() && job.timer2_on());
        int& count = job.timer1_on() ? counts.timer1 : counts.timer2;
        if (job.timer1_on() ? job.tick_timer1() : job.tick_timer2()) {
            ++count;
        } else {
            job.wait_for_write_back();
        }
    }
    counts.runaway = job.running();
    return counts;
}

/// Runs `work`; false when it was still blocked on the FIFO at `fifo` after a few seconds.
inline bool finishes_without_blocking(const std::string& fifo, const std::function<void()>& work) {
    auto done = std::async(std::launch::async, work);
    const bool in_time = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
    }
    done.get();
    return in_time;
}

}  // namespace wendrel::test
