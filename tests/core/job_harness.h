#pragma once

#include "core/posix_file_system.h"
#include "core/replace_job.h"
#include "faulty_file_system.h"
#include "recording_observer.h"
#include "temp_dir.h"

namespace wendrel::test {

using Lines = std::vector<std::string>;

/// A job over files in a temporary folder, with write-backs inside the tick (one thread's calls
/// in a fixed order for `fs`), and the texts it shows.
struct JobHarness {
    // Written out here rather than taken from the core, so that a changed byte shows.
    static inline const std::string kTime = "21:05:03";
    static inline const Lines kOpening = {
        "正在为替换做准备，请稍候--" + kTime, "完成对替换内容来源的读取--" + kTime,
        "完成对除去文件列表的读取--" + kTime, "完成替换的准备工作，即将开始替换--" + kTime};
    static inline const std::string kAllDone = "完成了对所有文件的替换--" + kTime;
    static std::string done(const std::string& path) { return line("完成文件", path); }
    static std::string skipped(const std::string& path) { return line("跳过了文件", path); }
    static std::string failed(const std::string& path) { return line("未能完成文件", path); }
    static std::string line(const char* opening, const std::string& path) {
        return opening + path + "的替换--" + kTime;
    }
    /// The status log of a job that reached the timers: the opening lines, then `later`.
    static Lines job_lines(Lines later) {
        later.insert(later.begin(), kOpening.begin(), kOpening.end());
        return later;
    }
    static ino_t inode_of(const std::string& path) { return stat_of(path).st_ino; }
    static mode_t mode_of(const std::string& path) { return stat_of(path).st_mode & 07777; }
    std::string content(const std::string& path) { return read_all(path).value_or("<none>"); }

    void start(const std::string& source, const std::string& records,
               const std::string& except = "", core::MatchOptions options = {}) {
        obs = RecordingObserver();
        job.keep_undo_in(journal);
        job.start({source, except, lists.write("list.txt", records), options});
    }
    TickCounts run(const std::string& source, const std::string& records,
                   const std::string& except = "", core::MatchOptions options = {}) {
        start(source, records, except, options);
        return run_ticks(job);
    }

    TempDir dir;    // targets
    TempDir lists;  // replacement-content files
    FaultyFileSystem fs{core::PosixFileSystem::instance()};
    RecordingObserver obs;
    std::string journal;  // where the job keeps what it replaces; empty: nowhere
    core::ReplaceJob job{obs, fs, [] { return kTime; }, 0, 0};
};

}  // namespace wendrel::test
