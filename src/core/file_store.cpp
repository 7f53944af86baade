#include "file_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <new>
#include <random>

#include "entry_pass.h"
#include "file_system.h"
#include "large_buffer.h"
#include "memory_limit.h"

namespace wendrel::core {
namespace {

constexpr std::size_t kReadBlock = 1 << 20;
constexpr int kTempAttempts = 16;

// O_NONBLOCK keeps an open of a FIFO or device from waiting; it changes nothing for the
// regular files that are the only ones ever read.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY;

// A file is held in memory about twice over while it is rewritten; one that cannot fit is
// refused up front rather than left to the out-of-memory killer. What fits is what the
// process may use, which a cgroup or an address-space limit can make far less than the machine.
std::size_t largest_loadable_size() {
    return static_cast<std::size_t>(MemoryLimit::usable() / 2);
}

bool same_version(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

std::string folder_of(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The one form of a write-back's new file: short, so that it fits beside a name of any legal
// length, and fixed, so that folder listings can tell it from the user's files.
constexpr std::string_view kTempPrefix = ".wendrel-";
constexpr std::size_t kTempRandomSize = 8;
constexpr std::string_view kTempDigits = "0123456789abcdefghijklmnopqrstuvwxyz";

std::string make_temp_name() {
    static std::atomic<unsigned> counter{std::random_device{}()};
    unsigned value = counter.fetch_add(0x9E3779B9u);
    std::string name(kTempPrefix);
    for (std::size_t i = 0; i < kTempRandomSize; ++i) {
        name += kTempDigits[value % kTempDigits.size()];
        value /= kTempDigits.size();
    }
    return name;
}

// Closes a descriptor on every path out of a function.
class Descriptor {
  public:
    Descriptor(FileSystem& fs, int fd) : fs_(fs), fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            fs_.close(fd_);
        }
    }
    int get() const { return fd_; }
    /// Closes now and reports the error, which matters after writing.
    int close() {
        const int error = fs_.close(fd_);
        fd_ = -1;
        return error;
    }

  private:
    FileSystem& fs_;
    int fd_;
};

// A read or write that a signal interrupted before it moved anything is simply made again.
long read_some(FileSystem& fs, int fd, char* buffer, std::size_t size) {
    long n;
    do {
        n = fs.read(fd, buffer, size);
    } while (n == -EINTR);
    return n;
}

int write_all(FileSystem& fs, int fd, std::string_view content) {
    std::size_t done = 0;
    while (done < content.size()) {
        const long n = fs.write(fd, content.data() + done, content.size() - done);
        if (n == -EINTR) {
            continue;
        }
        if (n < 0) {
            return static_cast<int>(-n);
        }
        if (n == 0) {
            return EIO;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// Large pieces go out as they are; runs of small ones (a text dense with replacements) are
// gathered first, so that a piece does not cost a system call of its own.
int write_pieces(FileSystem& fs, int fd, std::span<const std::string_view> pieces) try {
    constexpr std::size_t kGather = 256 * 1024;
    std::string gathered;
    for (const std::string_view piece : pieces) {
        if (gathered.size() + piece.size() > kGather && !gathered.empty()) {
            if (const int error = write_all(fs, fd, gathered)) {
                return error;
            }
            gathered.clear();
        }
        if (piece.size() >= kGather) {
            if (const int error = write_all(fs, fd, piece)) {
                return error;
            }
        } else {
            if (gathered.capacity() < kGather) {
                gathered.reserve(kGather);
            }
            gathered.append(piece);
        }
    }
    return write_all(fs, fd, gathered);
} catch (const std::bad_alloc&) {
    return ENOMEM;  // no room to gather in: the caller removes the part-written file
}

// Opens a regular file (symlinks followed) for reading; gives the descriptor or a negative
// errno. Folders, FIFOs, devices and sockets are refused without ever being read.
int open_regular(FileSystem& fs, const std::string& path, struct stat& info) {
    const int fd = fs.open(path, kReadFlags);
    if (fd < 0) {
        return fd;
    }
    int error = fs.fstat(fd, &info);
    if (error == 0 && !S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    }
    if (error != 0) {
        fs.close(fd);
        return -error;
    }
    return fd;
}

}  // namespace

std::optional<std::uint64_t> FileStore::loadable_size(const std::string& path) {
    struct stat info {};
    const int fd = open_regular(fs_, path, info);
    if (fd < 0) {
        return std::nullopt;
    }
    fs_.close(fd);
    return static_cast<std::uint64_t>(info.st_size);
}

int FileStore::load(const std::string& path, LoadedFile& file) {
    struct stat info {};
    const int fd = open_regular(fs_, path, info);
    if (fd < 0) {
        return -fd;
    }
    Descriptor handle(fs_, fd);
    const auto expected = static_cast<std::size_t>(info.st_size);
    if (expected > largest_loadable_size()) {
        return EFBIG;
    }
    std::string content;
    try {
        reserve_large(content, expected);
        content.resize(expected);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    } catch (const std::length_error&) {
        return EFBIG;
    }
    std::size_t done = 0;
    while (done < expected) {
        const long n =
            read_some(fs_, fd, content.data() + done, std::min(kReadBlock, expected - done));
        if (n < 0) {
            return static_cast<int>(-n);
        }
        if (n == 0) {
            return EAGAIN;  // shrank while being read
        }
        done += static_cast<std::size_t>(n);
    }
    char probe;
    const long more = read_some(fs_, fd, &probe, 1);
    if (more != 0) {
        return more < 0 ? static_cast<int>(-more) : EAGAIN;  // grew while being read
    }
    file.content = std::move(content);
    file.info = info;
    return 0;
}

int FileStore::scan(const std::string& path, const Entry& entry, MatchOptions options,
                    StreamResult& found, struct stat& info) {
    const int fd = open_regular(fs_, path, info);
    if (fd < 0) {
        return -fd;
    }
    Descriptor handle(fs_, fd);
    try {
        found = EntryPass::stream(
            static_cast<std::uint64_t>(info.st_size),
            [&](char* buffer, std::size_t size) { return read_some(fs_, fd, buffer, size); }, entry,
            options);
        return found.error;
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
}

int FileStore::write_back(const std::string& path, const NewContent& content,
                          const struct stat& loaded) {
    if (const auto* rewrite = std::get_if<FileRewrite>(&content)) {
        return rewrite_from_file(path, *rewrite, loaded);
    }
    return write_pieces_back(path, std::get<SplicedText>(content).pieces(), loaded);
}

int FileStore::write_pieces_back(const std::string& path, std::span<const std::string_view> content,
                                 const struct stat& loaded) {
    std::size_t size = 0;
    for (const std::string_view piece : content) {
        size += piece.size();
    }
    std::string final_path;
    struct stat now {};
    if (const int error = find_unchanged(path, loaded, final_path, now)) {
        return error;
    }
    if (static_cast<std::size_t>(now.st_size) == size && holds(final_path, content, size)) {
        return 0;  // the entries put back what they took out: nothing to write
    }
    return replace(final_path, loaded, now, [&](int fd) { return write_pieces(fs_, fd, content); });
}

int FileStore::rewrite_from_file(const std::string& path, const FileRewrite& rewrite,
                                 const struct stat& loaded) {
    std::string final_path;
    struct stat now {};
    if (const int error = find_unchanged(path, loaded, final_path, now)) {
        return error;
    }
    // Opened first and closed last, so that the new file's descriptor is the one whose
    // closing reports a failed write.
    struct stat info {};
    const int source = open_regular(fs_, final_path, info);
    if (source < 0) {
        return -source;
    }
    Descriptor handle(fs_, source);
    if (!same_version(info, loaded)) {
        return ESTALE;
    }
    return replace(final_path, loaded, now, [&](int fd) {
        const EntryPass::Writer write = [&](std::string_view piece) {
            return write_all(fs_, fd, piece);
        };
        try {
            const StreamResult made = EntryPass::stream(
                static_cast<std::uint64_t>(info.st_size),
                [&](char* buffer, std::size_t size) {
                    return read_some(fs_, source, buffer, size);
                },
                rewrite.entry, rewrite.options, &write);
            // Another count than the scan found means the file is no longer what was read.
            return made.error != 0 ? made.error : made.count != rewrite.count ? ESTALE : 0;
        } catch (const std::bad_alloc&) {
            return ENOMEM;
        }
    });
}

int FileStore::find_unchanged(const std::string& path, const struct stat& loaded,
                              std::string& final_path, struct stat& now) {
    if (const int error = fs_.realpath(path, final_path)) {
        return error;
    }
    if (const int error = fs_.stat(final_path, &now)) {
        return error;
    }
    if (!S_ISREG(now.st_mode)) {
        return EINVAL;
    }
    if (!same_version(now, loaded)) {
        return ESTALE;  // another program changed it since it was loaded: theirs wins
    }
    return 0;
}

int FileStore::replace(const std::string& final_path, const struct stat& loaded,
                       const struct stat& now, const std::function<int(int fd)>& write_content) {
    // Root may write anything; a file nobody may write stays as it is all the same.
    if ((now.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        return EACCES;
    }
    if (const int error = fs_.access(final_path, W_OK)) {
        return error;
    }
    // Made now, so that nothing can fail once the new file is in place.
    const std::string folder = folder_of(final_path), name = name_of(final_path);
    // Every later call is relative to the folder: a path near the system's limit leaves no
    // room for the folder's path and another name, and all of them reach the same folder even
    // if it is renamed meanwhile.
    const int folder_fd = fs_.open(folder, O_RDONLY | O_DIRECTORY);
    if (folder_fd < 0) {
        return -folder_fd;
    }
    Descriptor folder_handle(fs_, folder_fd);
    std::string temp;
    if (const int error = write_temp_beside(folder_fd, write_content, now, temp)) {
        return error;
    }
    // Not following links: a link put in the file's place meanwhile is a change too.
    struct stat before_rename {};
    int error = fs_.fstatat(folder_fd, name, &before_rename, AT_SYMLINK_NOFOLLOW);
    if (error == 0 && !same_version(before_rename, loaded)) {
        error = ESTALE;
    }
    if (error == 0) {
        error = fs_.renameat(folder_fd, temp, folder_fd, name);
    }
    if (error != 0) {
        fs_.unlinkat(folder_fd, temp, 0);
        return error;
    }
    // The new content is in place; syncing the folder only makes the rename durable sooner,
    // and some file systems refuse it, so its failure is not the file's failure.
    folder_syncer_.sync_after_rename(folder, folder_fd);
    return 0;
}

bool FileStore::holds(const std::string& path, std::span<const std::string_view> content,
                      std::size_t size) {
    struct stat info {};
    const int fd = open_regular(fs_, path, info);
    if (fd < 0) {
        return false;
    }
    Descriptor file(fs_, fd);
    std::string block(std::min(kReadBlock, size) + 1, '\0');
    std::size_t done = 0;
    std::size_t piece = 0;   // the piece that byte `done` lies in
    std::size_t offset = 0;  // and its position there
    for (;;) {
        const long n = read_some(fs_, fd, block.data(), block.size());
        if (n < 0 || done + static_cast<std::size_t>(n) > size) {
            return false;
        }
        if (n == 0) {
            return done == size;
        }
        for (std::size_t at = 0; at < static_cast<std::size_t>(n);) {
            while (offset == content[piece].size()) {
                ++piece;
                offset = 0;
            }
            const std::size_t length =
                std::min(static_cast<std::size_t>(n) - at, content[piece].size() - offset);
            if (content[piece].compare(offset, length, block.data() + at, length) != 0) {
                return false;
            }
            at += length;
            offset += length;
        }
        done += static_cast<std::size_t>(n);
    }
}

int FileStore::write_temp_beside(int folder, const std::function<int(int fd)>& write_content,
                                 const struct stat& original, std::string& temp_name) {
    int fd = -EEXIST;
    for (int attempt = 0; attempt < kTempAttempts && fd == -EEXIST; ++attempt) {
        temp_name = make_temp_name();
        fd = fs_.openat(folder, temp_name, O_WRONLY | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
    }
    if (fd < 0) {
        return -fd;
    }
    Descriptor temp(fs_, fd);
    int error = write_content(fd);
    // Owner first: changing it clears set-user-ID bits that the mode then restores.
    if (error == 0 && fs_.running_as_root()) {
        error = fs_.fchown(fd, original.st_uid, original.st_gid);
    }
    if (error == 0) {
        error = fs_.fchmod(fd, original.st_mode & 07777);
    }
    if (error == 0) {
        error = fs_.fsync(fd);
    }
    const int close_error = temp.close();
    if (error == 0) {
        error = close_error;
    }
    if (error != 0) {
        fs_.unlinkat(folder, temp_name, 0);
    }
    return error;
}

int FileStore::list_folder(const std::string& folder, std::vector<std::string>& paths) {
    if (folder.empty()) {
        return ENOENT;
    }
    std::vector<std::string> names;
    if (const int error = fs_.list_names(folder, names)) {
        return error;
    }
    std::sort(names.begin(), names.end());
    const std::string prefix = folder.back() == '/' ? folder : folder + '/';
    paths.clear();
    for (const auto& name : names) {
        if (is_temp_name(name)) {
            continue;
        }
        std::string path = prefix + name;
        struct stat info {};
        if (fs_.stat(path, &info) == 0 && S_ISREG(info.st_mode)) {
            paths.push_back(std::move(path));
        }
    }
    return 0;
}

bool FileStore::is_temp_name(std::string_view name) {
    return name.size() == kTempPrefix.size() + kTempRandomSize && name.starts_with(kTempPrefix) &&
           name.find_first_not_of(kTempDigits, kTempPrefix.size()) == std::string_view::npos;
}

}  // namespace wendrel::core
