#include "posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace wendrel::core {
namespace {

int result(int rc) {
    return rc == 0 ? 0 : errno;
}

/// Fills `out` through `call(buffer, size)`, a call that tells the size it needs when given
/// none; asks again when the data grew between the two calls.
template <typename Call>
int read_sized(std::string& out, Call call) {
    for (;;) {
        const ssize_t needed = call(nullptr, 0);
        if (needed < 0) {
            return errno;
        }
        out.resize(static_cast<std::size_t>(needed));
        const ssize_t n = call(out.data(), out.size());
        if (n >= 0) {
            out.resize(static_cast<std::size_t>(n));
            return 0;
        }
        if (errno != ERANGE) {
            return errno;
        }
    }
}

}  // namespace

int PosixFileSystem::open(const std::string& path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd >= 0 ? fd : -errno;
}

long PosixFileSystem::read(int fd, void* buffer, std::size_t size) {
    ssize_t n;
    do {
        n = ::read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n >= 0 ? static_cast<long>(n) : -errno;
}

long PosixFileSystem::write(int fd, const void* buffer, std::size_t size) {
    ssize_t n;
    do {
        n = ::write(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n >= 0 ? static_cast<long>(n) : -errno;
}

int PosixFileSystem::fstat(int fd, struct stat* info) {
    return result(::fstat(fd, info));
}

int PosixFileSystem::fsync(int fd) {
    int rc;
    do {
        rc = ::fsync(fd);
    } while (rc != 0 && errno == EINTR);
    return result(rc);
}

int PosixFileSystem::fchmod(int fd, mode_t mode) {
    return result(::fchmod(fd, mode));
}

int PosixFileSystem::fchown(int fd, uid_t owner, gid_t group) {
    return result(::fchown(fd, owner, group));
}

// A close that fails is reported, but never retried: the descriptor is gone either way.
int PosixFileSystem::close(int fd) {
    return result(::close(fd));
}

int PosixFileSystem::stat(const std::string& path, struct stat* info) {
    return result(::stat(path.c_str(), info));
}

int PosixFileSystem::access(const std::string& path, int mode) {
    return result(::access(path.c_str(), mode));
}

int PosixFileSystem::openat(int folder, const std::string& name, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::openat(folder, name.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd >= 0 ? fd : -errno;
}

int PosixFileSystem::fstatat(int folder, const std::string& name, struct stat* info, int flags) {
    return result(::fstatat(folder, name.c_str(), info, flags));
}

int PosixFileSystem::renameat(int from_folder, const std::string& from, int to_folder,
                              const std::string& to) {
    return result(::renameat(from_folder, from.c_str(), to_folder, to.c_str()));
}

int PosixFileSystem::mkdirat(int folder, const std::string& name, mode_t mode) {
    return result(::mkdirat(folder, name.c_str(), mode));
}

int PosixFileSystem::unlinkat(int folder, const std::string& name, int flags) {
    return result(::unlinkat(folder, name.c_str(), flags));
}

int PosixFileSystem::renameat2(int from_folder, const std::string& from, int to_folder,
                               const std::string& to, unsigned flags) {
    return result(::renameat2(from_folder, from.c_str(), to_folder, to.c_str(), flags));
}

int PosixFileSystem::linkat(int from_folder, const std::string& from, int to_folder,
                            const std::string& to, int flags) {
    return result(::linkat(from_folder, from.c_str(), to_folder, to.c_str(), flags));
}

int PosixFileSystem::dup(int fd) {
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    return copy >= 0 ? copy : -errno;
}

int PosixFileSystem::lock(int fd, short type) {
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;  // start 0, length 0: the whole file, however it grows
    int rc;
    do {
        rc = ::fcntl(fd, F_OFD_SETLK, &range);
    } while (rc != 0 && errno == EINTR);
    return result(rc);
}

long PosixFileSystem::lseek(int fd, off_t offset, int whence) {
    const off_t at = ::lseek(fd, offset, whence);
    return at >= 0 ? static_cast<long>(at) : -errno;
}

int PosixFileSystem::realpath(const std::string& path, std::string& resolved) {
    char* full = ::realpath(path.c_str(), nullptr);
    if (full == nullptr) {
        return errno;
    }
    resolved = full;
    std::free(full);
    return 0;
}

int PosixFileSystem::list_names(const std::string& folder, std::vector<std::string>& names) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return errno;
    }
    names.clear();
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    const int error = errno;
    ::closedir(dir);
    return error;
}

int PosixFileSystem::list_entries(int folder, std::vector<FolderEntry>& entries) {
    // fdopendir takes the descriptor it is given: it gets a copy, opened afresh at the folder's
    // start, so that the caller's descriptor keeps serving openat and may be listed again.
    const int copy = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (copy < 0) {
        return errno;
    }
    DIR* dir = ::fdopendir(copy);
    if (dir == nullptr) {
        const int error = errno;
        ::close(copy);
        return error;
    }
    entries.clear();
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            entries.push_back({std::string(name), entry->d_type});
        }
    }
    const int error = errno;
    ::closedir(dir);
    return error;
}

bool PosixFileSystem::running_as_root() {
    return ::geteuid() == 0;
}

int PosixFileSystem::flistxattr(int fd, std::vector<std::string>& names) {
    std::string list;  // names, each ended by a NUL
    if (const int error = read_sized(list, [fd](char* buffer, std::size_t size) {
            return ::flistxattr(fd, buffer, size);
        })) {
        return error;
    }
    names.clear();
    for (std::size_t at = 0; at < list.size();) {
        const std::size_t end = list.find('\0', at);
        names.push_back(list.substr(at, end - at));
        at = end == std::string::npos ? list.size() : end + 1;
    }
    return 0;
}

int PosixFileSystem::fgetxattr(int fd, const std::string& name, std::string& value) {
    return read_sized(value, [fd, &name](char* buffer, std::size_t size) {
        return ::fgetxattr(fd, name.c_str(), buffer, size);
    });
}

int PosixFileSystem::fsetxattr(int fd, const std::string& name, std::string_view value) {
    return result(::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0));
}

int PosixFileSystem::fremovexattr(int fd, const std::string& name) {
    return result(::fremovexattr(fd, name.c_str()));
}

PosixFileSystem& PosixFileSystem::instance() {
    static PosixFileSystem fs;
    return fs;
}

}  // namespace wendrel::core
