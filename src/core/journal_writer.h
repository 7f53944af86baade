#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "file_descriptor.h"

namespace wendrel::core {

class FileSystem;

/// The journal of one running job: each file the job replaces is kept here, durably, before
/// the new one takes its name. Safe to use from several write-back threads at once.
class JournalWriter {
  public:
    /// `folder` is the job's own, new folder, open as `folder_fd`; `manifest` its record, open
    /// for appending.
    JournalWriter(FileSystem& fs, std::string id, std::string folder, FileDescriptor folder_fd,
                  FileDescriptor manifest);
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    const std::string& id() const { return id_; }
    const std::string& folder() const { return folder_; }

    /// Keeps the file open as `old_fd` (a hard link to it where the journal is on the same file
    /// system, a synced copy where not) and records it with `made`, the new file about to take
    /// its place at `path`, whose content hashes to `hash`, as the manifest's `line`. Returns
    /// 0, or the errno that stopped it: then the file cannot be undone, and is counted as lost.
    int keep(int old_fd, const std::string& path, const struct stat& old_info,
             const struct stat& made, std::uint64_t hash, std::size_t& slot, std::uint64_t& line);
    /// Waits until the kept file and its `line` are on disk; one sync serves every line
    /// appended meanwhile by other threads. On failure the file is dropped and counted lost.
    int make_durable(std::size_t slot, std::uint64_t line);
    /// The new file did not take the old one's place after all: the kept one goes.
    void drop(std::size_t slot);
    /// Counts a file replaced with nothing kept (the journal could not be written).
    void lose(int error);
    /// Records the job's end. A journal that kept nothing is removed.
    void finish();
    /// Finishes and lets go of `writer`, and gives what the job's log says of it: that the job
    /// can be taken back, or how many of its `changed` files cannot, and why (a reason line
    /// follows); nothing for a job that kept nothing. `journal_error` is why there is no
    /// writer (0: none was asked for).
    static std::vector<std::string> close(std::unique_ptr<JournalWriter>& writer, int journal_error,
                                          std::size_t changed);

    std::size_t kept() const { return kept_; }
    std::size_t lost() const { return lost_; }
    /// Why the first file could not be kept (0: every one was).
    int first_error() const { return first_error_; }

  private:
    int copy(int old_fd, std::uint64_t size, const std::string& name);
    /// Appends one line to the manifest; gives its number.
    int append(const std::string& line, std::uint64_t& number);
    /// Syncs the folder and the manifest, unless a sync begun after line `mine` was written
    /// has already done so.
    int sync_through(std::uint64_t mine);

    FileSystem& fs_;
    const std::string id_;
    const std::string folder_;
    FileDescriptor folder_fd_;
    FileDescriptor manifest_;
    std::atomic<std::size_t> next_slot_{1};
    std::atomic<std::size_t> kept_{0};
    std::atomic<std::size_t> lost_{0};
    std::atomic<int> first_error_{0};
    std::mutex append_mutex_;
    std::uint64_t appended_ = 0;  // guarded by append_mutex_: lines written
    std::mutex sync_mutex_;
    std::uint64_t synced_ = 0;  // guarded by sync_mutex_: lines known to be on disk
    int sync_error_ = 0;        // guarded by sync_mutex_
};

}  // namespace wendrel::core
