#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace wendrel::core {

class FileSystem;

/// Makes renames in a folder durable by syncing the folder, sharing syncs between threads:
/// a sync makes durable every rename made before it began, so a thread whose rename an
/// already running sync began too early for waits for the next one, and that one sync
/// serves every thread that waited for it. Many files rewritten in one folder thus cost far
/// fewer folder syncs than files.
class FolderSyncer {
  public:
    explicit FolderSyncer(FileSystem& fs) : fs_(fs) {}

    /// Returns once a sync of `folder` that began after this call has ended. `folder_fd` is
    /// the caller's open descriptor of it: the folder the rename was made in, whatever its path
    /// names by now. A folder that cannot be synced is passed over: some file systems refuse.
    void sync_after_rename(const std::string& folder, int folder_fd);

  private:
    struct Folder {
        std::uint64_t renames = 0;  // renames announced so far
        std::uint64_t synced = 0;   // renames up to this number are durable
        bool syncing = false;
    };

    FileSystem& fs_;
    std::mutex mutex_;
    std::condition_variable synced_;
    std::unordered_map<std::string, Folder> folders_;  // guarded by mutex_
};

}  // namespace wendrel::core
