#include "folder_walker.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "file_descriptor.h"
#include "file_store.h"
#include "file_system.h"

namespace wendrel::core {
namespace {

constexpr std::size_t kBinaryProbe = 4096;

using SharedFolder = std::shared_ptr<const FileDescriptor>;

// A sub-folder still to be listed. It holds its parent open: the sub-folder is opened relative
// to it, by its name alone.
struct Task {
    SharedFolder parent;
    std::string relative;  // to the walked folder; its last name is the sub-folder's name
};

std::string_view last_name(std::string_view relative) {
    const std::size_t slash = relative.rfind('/');
    return slash == std::string_view::npos ? relative : relative.substr(slash + 1);
}

unsigned char type_of(mode_t mode) {
    return S_ISDIR(mode) ? DT_DIR : S_ISREG(mode) ? DT_REG : S_ISLNK(mode) ? DT_LNK : DT_UNKNOWN;
}

// The state one walk's threads share.
class Walk {
  public:
    Walk(FileSystem& fs, const WalkOptions& options, const std::string& folder, dev_t device)
        : fs_(fs),
          options_(options),
          prefix_(folder.ends_with('/') ? folder : folder + '/'),
          device_(device) {}

    /// Lists the walked folder itself: 0 or the errno of the listing.
    int list_top(SharedFolder folder) { return list(std::move(folder), ""); }

    /// Takes sub-folders until every one is listed. Run on each thread.
    void work() {
        for (;;) {
            Task task;
            {
                std::unique_lock lock(mutex_);
                more_.wait(lock, [this] { return !tasks_.empty() || busy_ == 0; });
                if (tasks_.empty()) {
                    return;
                }
                // Last in, first out: the folders held open are those along a few paths down
                // the tree, not a whole level of it.
                task = std::move(tasks_.back());
                tasks_.pop_back();
                ++busy_;
            }
            try {
                enter(std::move(task));
            } catch (...) {
                // Out of memory: the walk ends, and the error goes to the caller's thread.
                const std::lock_guard lock(mutex_);
                if (!failure_) {
                    failure_ = std::current_exception();
                }
                tasks_.clear();
            }
            const std::lock_guard lock(mutex_);
            if (--busy_ == 0 && tasks_.empty()) {
                more_.notify_all();
            }
        }
    }

    /// The result, sorted; rethrows what a thread met.
    void finish(FolderWalker::Result& result) {
        if (failure_) {
            std::rethrow_exception(failure_);
        }
        std::ranges::sort(files_, {}, &FolderWalker::File::path);
        std::ranges::sort(unreadable_);
        result = {std::move(files_), std::move(unreadable_)};
    }

  private:
    void enter(Task task) {
        const std::string name(last_name(task.relative));
        const int fd = fs_.openat(task.parent->get(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        task.parent.reset();
        if (fd == -ENOTDIR || fd == -ELOOP) {
            return;  // no longer a folder, or now a symlink: neither is walked
        }
        int error = -fd;
        if (fd >= 0) {
            auto folder = std::make_shared<const FileDescriptor>(fs_, fd);
            struct stat info {};
            error = fs_.fstat(fd, &info);
            if (error == 0 && info.st_dev != device_ && !options_.cross_fs) {
                return;
            }
            if (error == 0) {
                error = list(std::move(folder), task.relative);
            }
        }
        if (error != 0) {
            const std::lock_guard lock(mutex_);
            unreadable_.emplace_back(prefix_ + task.relative, error);
        }
    }

    // Takes the files of one folder and queues its sub-folders. A folder that cannot be listed
    // adds nothing.
    int list(SharedFolder folder, const std::string& relative) {
        std::vector<FileSystem::FolderEntry> entries;
        if (const int error = fs_.list_entries(folder->get(), entries)) {
            return error;
        }
        std::vector<FolderWalker::File> files;
        std::vector<Task> folders;
        for (const auto& entry : entries) {
            std::string path = relative.empty() ? entry.name : relative + '/' + entry.name;
            switch (kind_of(folder->get(), entry)) {
                case DT_DIR:
                    if (!WalkOptions::is_version_control(entry.name) &&
                        options_.enters_folder(path)) {
                        folders.push_back({folder, std::move(path)});
                    }
                    break;
                case DT_REG:
                    if (!FileStore::is_temp_name(entry.name) && options_.takes_file(path)) {
                        const bool binary =
                            !options_.binary && holds_nul(folder->get(), entry.name);
                        files.push_back({prefix_ + path, binary});
                    }
                    break;
                default:
                    break;
            }
        }
        const std::lock_guard lock(mutex_);
        std::ranges::move(files, std::back_inserter(files_));
        if (!failure_ && !folders.empty()) {  // a walk that failed queues nothing more
            std::ranges::move(folders, std::back_inserter(tasks_));
            more_.notify_all();
        }
        return 0;
    }

    // DT_DIR for a real folder, DT_REG for a regular file or a symlink to one, else another
    // type. Only an entry whose type the listing did not tell, or a symlink, costs a stat.
    unsigned char kind_of(int folder, const FileSystem::FolderEntry& entry) {
        unsigned char type = entry.type;
        struct stat info {};
        if (type == DT_UNKNOWN &&
            fs_.fstatat(folder, entry.name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
            type = type_of(info.st_mode);
        }
        if (type == DT_LNK && fs_.fstatat(folder, entry.name, &info, 0) == 0 &&
            S_ISREG(info.st_mode)) {
            return DT_REG;
        }
        return type;
    }

    // A file that cannot be read is not called binary: its load fails and says why.
    bool holds_nul(int folder, const std::string& name) {
        const FileDescriptor file(fs_, fs_.openat(folder, name, O_RDONLY | O_NONBLOCK | O_NOCTTY));
        struct stat info {};
        if (!file || fs_.fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
            return false;
        }
        std::array<char, kBinaryProbe> head;
        std::size_t size = 0;
        while (size < head.size()) {
            const long n = fs_.read(file.get(), head.data() + size, head.size() - size);
            if (n <= 0) {
                break;
            }
            size += static_cast<std::size_t>(n);
        }
        return std::memchr(head.data(), '\0', size) != nullptr;
    }

    FileSystem& fs_;
    const WalkOptions& options_;
    const std::string prefix_;  // the walked folder as given, ending in "/"
    const dev_t device_;        // of the walked folder

    std::mutex mutex_;
    std::condition_variable more_;           // a task was queued, or the last one ended
    std::vector<Task> tasks_;                // guarded by mutex_
    std::size_t busy_ = 0;                   // guarded by mutex_: tasks taken and not ended
    std::vector<FolderWalker::File> files_;  // guarded by mutex_
    std::vector<std::pair<std::string, int>> unreadable_;  // guarded by mutex_
    std::exception_ptr failure_;                           // guarded by mutex_
};

}  // namespace

int FolderWalker::walk(const std::string& folder, Result& result) {
    result = {};
    if (folder.empty()) {
        return ENOENT;
    }
    const int fd = fs_.open(folder, O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
        return -fd;
    }
    auto top = std::make_shared<const FileDescriptor>(fs_, fd);
    struct stat info {};
    if (const int error = fs_.fstat(fd, &info)) {
        return error;
    }
    Walk walk(fs_, options_, folder, info.st_dev);
    if (const int error = walk.list_top(std::move(top))) {
        return error;
    }
    {
        std::vector<std::jthread> helpers;
        try {
            for (std::size_t i = 1; i < threads_; ++i) {
                helpers.emplace_back([&walk] { walk.work(); });
            }
        } catch (const std::system_error&) {
            // No more threads to be had: those started, and this one, do the walk.
        }
        walk.work();
    }  // the helpers are joined here
    walk.finish(result);
    return 0;
}

}  // namespace wendrel::core
