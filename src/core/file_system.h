#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace wendrel::core {

/// The one seam through which the job touches the file system, so that tests can make any
/// single call fail. Calls mirror POSIX: those returning int give 0 on success or a positive
/// errno; `open` gives a descriptor or a negative errno; `read`/`write` give a byte count or
/// a negative errno. Implementations never throw.
class FileSystem {
  public:
    virtual ~FileSystem() = default;

    virtual int open(const std::string& path, int flags, mode_t mode = 0) = 0;
    virtual long read(int fd, void* buffer, std::size_t size) = 0;
    virtual long write(int fd, const void* buffer, std::size_t size) = 0;
    virtual int fstat(int fd, struct stat* info) = 0;
    virtual int fsync(int fd) = 0;
    virtual int fchmod(int fd, mode_t mode) = 0;
    virtual int fchown(int fd, uid_t owner, gid_t group) = 0;
    virtual int close(int fd) = 0;
    virtual int stat(const std::string& path, struct stat* info) = 0;
    virtual int access(const std::string& path, int mode) = 0;
    // Calls relative to an open folder: they reach names in a folder whose full path, with
    // the name, would be longer than the system allows.
    virtual int openat(int folder, const std::string& name, int flags, mode_t mode = 0) = 0;
    virtual int fstatat(int folder, const std::string& name, struct stat* info, int flags) = 0;
    virtual int renameat(int from_folder, const std::string& from, int to_folder,
                         const std::string& to) = 0;
    virtual int unlinkat(int folder, const std::string& name, int flags) = 0;
    /// renameat with `flags` (RENAME_EXCHANGE swaps the two names).
    virtual int renameat2(int from_folder, const std::string& from, int to_folder,
                          const std::string& to, unsigned flags) = 0;
    virtual int mkdirat(int folder, const std::string& name, mode_t mode) = 0;
    virtual int linkat(int from_folder, const std::string& from, int to_folder,
                       const std::string& to, int flags) = 0;
    /// Sets an open-file-description lock of `type` (F_WRLCK, F_RDLCK, F_UNLCK) over the whole
    /// file without waiting (F_OFD_SETLK): EAGAIN while another description holds one.
    virtual int lock(int fd, short type) = 0;
    /// A second descriptor of the same open file (its locks included); the descriptor or a
    /// negative errno.
    virtual int dup(int fd) = 0;
    /// The new offset, or a negative errno.
    virtual long lseek(int fd, off_t offset, int whence) = 0;
    /// Resolves every symlink of `path` into `resolved` (an absolute path).
    virtual int realpath(const std::string& path, std::string& resolved) = 0;
    /// Names of the entries of a folder, without "." and "..", in no particular order.
    virtual int list_names(const std::string& folder, std::vector<std::string>& names) = 0;
    /// An entry of an open folder, with its type as the folder itself gives it (a DT_ value of
    /// dirent.h; DT_UNKNOWN where the file system tells none), so that a walk needs no stat.
    struct FolderEntry {
        std::string name;
        unsigned char type;
    };
    /// The entries of the open folder `folder`, without "." and "..", in no particular order.
    /// `folder` stays open and its own, and can be listed again.
    virtual int list_entries(int folder, std::vector<FolderEntry>& entries) = 0;
    virtual bool running_as_root() = 0;
    // Extended attributes of an open file, the ACL among them (`system.posix_acl_access`).
    /// Names of the attributes this process may see; ENOTSUP where the file system keeps none.
    virtual int flistxattr(int fd, std::vector<std::string>& names) = 0;
    /// The value of `name`, which may hold any bytes; ENODATA when the file has no such one.
    virtual int fgetxattr(int fd, const std::string& name, std::string& value) = 0;
    virtual int fsetxattr(int fd, const std::string& name, std::string_view value) = 0;
    virtual int fremovexattr(int fd, const std::string& name) = 0;
};

}  // namespace wendrel::core
