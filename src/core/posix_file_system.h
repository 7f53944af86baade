#pragma once

#include "file_system.h"

namespace wendrel::core {

/// The real file system.
class PosixFileSystem final : public FileSystem {
  public:
    int open(const std::string& path, int flags, mode_t mode = 0) override;
    long read(int fd, void* buffer, std::size_t size) override;
    long write(int fd, const void* buffer, std::size_t size) override;
    int fstat(int fd, struct stat* info) override;
    int fsync(int fd) override;
    int fchmod(int fd, mode_t mode) override;
    int fchown(int fd, uid_t owner, gid_t group) override;
    int close(int fd) override;
    int stat(const std::string& path, struct stat* info) override;
    int access(const std::string& path, int mode) override;
    int openat(int folder, const std::string& name, int flags, mode_t mode = 0) override;
    int fstatat(int folder, const std::string& name, struct stat* info, int flags) override;
    int renameat(int from_folder, const std::string& from, int to_folder,
                 const std::string& to) override;
    int unlinkat(int folder, const std::string& name, int flags) override;
    int renameat2(int from_folder, const std::string& from, int to_folder, const std::string& to,
                  unsigned flags) override;
    int mkdirat(int folder, const std::string& name, mode_t mode) override;
    int linkat(int from_folder, const std::string& from, int to_folder, const std::string& to,
               int flags) override;
    int lock(int fd, short type) override;
    int dup(int fd) override;
    long lseek(int fd, off_t offset, int whence) override;
    int realpath(const std::string& path, std::string& resolved) override;
    int list_names(const std::string& folder, std::vector<std::string>& names) override;
    int list_entries(int folder, std::vector<FolderEntry>& entries) override;
    bool running_as_root() override;
    int flistxattr(int fd, std::vector<std::string>& names) override;
    int fgetxattr(int fd, const std::string& name, std::string& value) override;
    int fsetxattr(int fd, const std::string& name, std::string_view value) override;
    int fremovexattr(int fd, const std::string& name) override;

    /// The process-wide instance, for callers that do not inject their own.
    static PosixFileSystem& instance();
};

}  // namespace wendrel::core
