#include "folder_syncer.h"

#include <fcntl.h>

#include <algorithm>
#include <new>

#include "file_system.h"

namespace wendrel::core {

void FolderSyncer::sync_after_rename(const std::string& folder) {
    std::unique_lock lock(mutex_);
    Folder* found = nullptr;
    try {
        found = &folders_[folder];  // references to map values survive rehashing
    } catch (const std::bad_alloc&) {
        lock.unlock();
        sync_now(folder);  // no memory to note the folder in: sync it alone
        return;
    }
    Folder& state = *found;
    const std::uint64_t mine = ++state.renames;
    while (state.synced < mine) {
        if (state.syncing) {
            synced_.wait(lock);
            continue;
        }
        state.syncing = true;
        const std::uint64_t covered = state.renames;  // every rename announced before it starts
        lock.unlock();
        sync_now(folder);
        lock.lock();
        state.syncing = false;
        state.synced = std::max(state.synced, covered);
        synced_.notify_all();
    }
}

void FolderSyncer::sync_now(const std::string& folder) {
    const int fd = fs_.open(folder, O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        fs_.fsync(fd);
        fs_.close(fd);
    }
}

}  // namespace wendrel::core
