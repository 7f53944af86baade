#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/file_system.h"

namespace wendrel::test {

/// Passes every call on to a real file system; test doubles override the calls they change.
class ForwardingFileSystem : public core::FileSystem {
  public:
    explicit ForwardingFileSystem(core::FileSystem& real) : real_(real) {}

    int open(const std::string& path, int flags, mode_t mode = 0) override {
        return real_.open(path, flags, mode);
    }
    long read(int fd, void* buffer, std::size_t size) override {
        return real_.read(fd, buffer, size);
    }
    long write(int fd, const void* buffer, std::size_t size) override {
        return real_.write(fd, buffer, size);
    }
    int fstat(int fd, struct stat* info) override { return real_.fstat(fd, info); }
    int fsync(int fd) override { return real_.fsync(fd); }
    int fchmod(int fd, mode_t mode) override { return real_.fchmod(fd, mode); }
    int fchown(int fd, uid_t owner, gid_t group) override { return real_.fchown(fd, owner, group); }
    int close(int fd) override { return real_.close(fd); }
    int stat(const std::string& path, struct stat* info) override { return real_.stat(path, info); }
    int access(const std::string& path, int mode) override { return real_.access(path, mode); }
    int openat(int folder, const std::string& name, int flags, mode_t mode = 0) override {
        return real_.openat(folder, name, flags, mode);
    }
    int fstatat(int folder, const std::string& name, struct stat* info, int flags) override {
        return real_.fstatat(folder, name, info, flags);
    }
    int renameat(int from_folder, const std::string& from, int to_folder,
                 const std::string& to) override {
        return real_.renameat(from_folder, from, to_folder, to);
    }
    int unlinkat(int folder, const std::string& name, int flags) override {
        return real_.unlinkat(folder, name, flags);
    }
    int renameat2(int from_folder, const std::string& from, int to_folder, const std::string& to,
                  unsigned flags) override {
        return real_.renameat2(from_folder, from, to_folder, to, flags);
    }
    int linkat(int from_folder, const std::string& from, int to_folder, const std::string& to,
               int flags) override {
        return real_.linkat(from_folder, from, to_folder, to, flags);
    }
    int lock(int fd, short type) override { return real_.lock(fd, type); }
    int dup(int fd) override { return real_.dup(fd); }
    long lseek(int fd, off_t offset, int whence) override {
        return real_.lseek(fd, offset, whence);
    }
    int realpath(const std::string& path, std::string& resolved) override {
        return real_.realpath(path, resolved);
    }
    int list_names(const std::string& folder, std::vector<std::string>& names) override {
        return real_.list_names(folder, names);
    }
    bool running_as_root() override { return real_.running_as_root(); }
    int flistxattr(int fd, std::vector<std::string>& names) override {
        return real_.flistxattr(fd, names);
    }
    int fgetxattr(int fd, const std::string& name, std::string& value) override {
        return real_.fgetxattr(fd, name, value);
    }
    int fsetxattr(int fd, const std::string& name, std::string_view value) override {
        return real_.fsetxattr(fd, name, value);
    }
    int fremovexattr(int fd, const std::string& name) override {
        return real_.fremovexattr(fd, name);
    }

  protected:
    core::FileSystem& real_;
};

}  // namespace wendrel::test
