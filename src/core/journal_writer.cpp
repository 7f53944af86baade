#include "journal_writer.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "failure_reason.h"
#include "file_system.h"
#include "journal_job.h"
#include "messages.h"

namespace wendrel::core {
namespace {

int write_all(FileSystem& fs, int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const long n = fs.write(fd, bytes.data(), bytes.size());
        if (n == -EINTR) {
            continue;
        }
        if (n <= 0) {
            return n == 0 ? EIO : static_cast<int>(-n);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

}  // namespace

JournalWriter::JournalWriter(FileSystem& fs, std::string id, std::string folder,
                             FileDescriptor folder_fd, FileDescriptor manifest)
    : fs_(fs),
      id_(std::move(id)),
      folder_(std::move(folder)),
      folder_fd_(std::move(folder_fd)),
      manifest_(std::move(manifest)) {}

int JournalWriter::keep(int old_fd, const std::string& path, const struct stat& old_info,
                        const struct stat& made, std::uint64_t hash, std::size_t& slot,
                        std::uint64_t& line) {
    slot = next_slot_++;
    const std::string name = std::to_string(slot);
    // A second name for the old file costs nothing and cannot run out of space; the file is
    // never written again, since its path is about to name another file.
    const std::string self = "/proc/self/fd/" + std::to_string(old_fd);
    int error = fs_.linkat(AT_FDCWD, self, folder_fd_.get(), name, AT_SYMLINK_FOLLOW);
    if (error != 0) {
        // Another file system (EXDEV), a file this user may not link, or no /proc.
        error = copy(old_fd, static_cast<std::uint64_t>(old_info.st_size), name);
    }
    if (error == 0) {
        KeptFile kept;
        kept.slot = slot;
        kept.path = path;
        kept.old_dev = old_info.st_dev;
        kept.old_ino = old_info.st_ino;
        kept.old_size = static_cast<std::uint64_t>(old_info.st_size);
        kept.new_dev = made.st_dev;
        kept.new_ino = made.st_ino;
        kept.new_size = static_cast<std::uint64_t>(made.st_size);
        kept.new_mtime_sec = made.st_mtim.tv_sec;
        kept.new_mtime_nsec = made.st_mtim.tv_nsec;
        kept.new_hash = hash;
        error = append(manifest::kept_line(kept), line);
        if (error != 0) {
            fs_.unlinkat(folder_fd_.get(), name, 0);
        }
    }
    if (error != 0) {
        lose(error);
        return error;
    }
    ++kept_;
    return 0;
}

int JournalWriter::copy(int old_fd, std::uint64_t size, const std::string& name) {
    const int fd = fs_.openat(folder_fd_.get(), name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                              S_IRUSR | S_IWUSR);
    if (fd < 0) {
        return -fd;
    }
    FileDescriptor out(fs_, fd);
    int error = 0;
    const long at = fs_.lseek(old_fd, 0, SEEK_SET);
    if (at < 0) {
        error = static_cast<int>(-at);
    }
    // No larger than the file (and one byte to see its end): most files are small, and a
    // buffer is made for each.
    std::string block(std::min<std::uint64_t>(size + 1, 1 << 20), '\0');
    while (error == 0) {
        const long n = fs_.read(old_fd, block.data(), block.size());
        if (n == -EINTR) {
            continue;
        }
        if (n <= 0) {
            error = static_cast<int>(-n);
            break;
        }
        error = write_all(fs_, fd, std::string_view(block.data(), static_cast<std::size_t>(n)));
    }
    if (error == 0) {
        error = fs_.fsync(fd);
    }
    const int close_error = out.close();
    if (error == 0) {
        error = close_error;
    }
    if (error != 0) {
        fs_.unlinkat(folder_fd_.get(), name, 0);
    }
    return error;
}

int JournalWriter::append(const std::string& line, std::uint64_t& number) {
    const std::lock_guard lock(append_mutex_);
    if (const int error = write_all(fs_, manifest_.get(), line + '\n')) {
        return error;
    }
    number = ++appended_;
    return 0;
}

int JournalWriter::make_durable(std::size_t slot, std::uint64_t mine) {
    if (const int error = sync_through(mine)) {
        drop(slot);
        lose(error);
        return error;
    }
    return 0;
}

int JournalWriter::sync_through(std::uint64_t mine) {
    const std::lock_guard lock(sync_mutex_);
    if (synced_ >= mine) {
        return sync_error_;  // another thread's sync covered this line
    }
    std::uint64_t upto;
    {
        const std::lock_guard append_lock(append_mutex_);
        upto = appended_;
    }
    // The folder holds the kept file's new name; the manifest, the line that explains it.
    sync_error_ = fs_.fsync(folder_fd_.get());
    if (sync_error_ == 0) {
        sync_error_ = fs_.fsync(manifest_.get());
    }
    synced_ = upto;
    return sync_error_;
}

void JournalWriter::drop(std::size_t slot) {
    const std::lock_guard lock(append_mutex_);
    // Not synced: after a crash the kept file is merely kept, and an undo finds its path
    // holding another file and leaves it.
    if (write_all(fs_, manifest_.get(), "dropped\t" + std::to_string(slot) + '\n') == 0) {
        fs_.unlinkat(folder_fd_.get(), std::to_string(slot), 0);
    }
    --kept_;
}

void JournalWriter::lose(int error) {
    ++lost_;
    int none = 0;
    first_error_.compare_exchange_strong(none, error);
}

std::vector<std::string> JournalWriter::close(std::unique_ptr<JournalWriter>& writer,
                                              int journal_error, std::size_t changed) {
    std::vector<std::string> lines;
    if (writer) {
        writer->finish();
        if (writer->lost() != 0) {
            lines = {messages::not_undoable(writer->lost()), reason_line(writer->first_error())};
        } else if (writer->kept() != 0) {
            lines = {messages::undo_available(writer->id())};
        }
        writer.reset();
    } else if (journal_error != 0 && changed != 0) {
        lines = {messages::not_undoable(changed), reason_line(journal_error)};
    }
    return lines;
}

void JournalWriter::finish() {
    const std::lock_guard lock(append_mutex_);
    if (kept_ == 0) {
        // Nothing to take back: the job leaves no journal behind.
        fs_.unlinkat(folder_fd_.get(), "manifest", 0);
        std::vector<std::string> names;
        if (fs_.list_names(folder_, names) == 0) {
            for (const auto& name : names) {
                fs_.unlinkat(folder_fd_.get(), name, 0);
            }
        }
        fs_.unlinkat(AT_FDCWD, folder_, AT_REMOVEDIR);
        return;
    }
    if (write_all(fs_, manifest_.get(), "ended\n") == 0) {
        fs_.fsync(manifest_.get());
    }
}

}  // namespace wendrel::core
