#include "folder_syncer.h"

#include <algorithm>
#include <new>

#include "file_system.h"

namespace wendrel::core {

void FolderSyncer::sync_after_rename(const std::string& folder, int folder_fd) {
    std::unique_lock lock(mutex_);
    Folder* found = nullptr;
    try {
        found = &folders_[folder];  // references to map values survive rehashing
    } catch (const std::bad_alloc&) {
        lock.unlock();
        fs_.fsync(folder_fd);  // no memory to note the folder in: sync it alone
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
        fs_.fsync(folder_fd);
        lock.lock();
        state.syncing = false;
        state.synced = std::max(state.synced, covered);
        synced_.notify_all();
    }
}

}  // namespace wendrel::core
