#pragma once

#include <fcntl.h>

#include <algorithm>
#include <cstddef>
#include <functional>

#include "forwarding_file_system.h"

namespace wendrel::test {

// `create` is an open with O_CREAT or O_TMPFILE: the new file of a write-back; `open_folder`
// one with O_DIRECTORY alone: the folder it is made in; `exchange` is any renameat2; `lock`
// takes or releases a lock; `list` lists a folder; the `*_xattr` kinds are the extended
// attribute calls.
enum class FsCall {
    none,
    open_folder,
    create,
    read,
    write,
    fsync,
    fchmod,
    fchown,
    close,
    fstatat,
    rename,
    unlink,
    exchange,
    link,
    lock,
    list,
    list_xattr,
    get_xattr,
    set_xattr,
    remove_xattr
};

/// Forwards to a real file system, but can fail one chosen call with a chosen errno, or run an
/// action just before it (to play another program), and can shorten reads and writes.
class FaultyFileSystem final : public ForwardingFileSystem {
  public:
    using ForwardingFileSystem::ForwardingFileSystem;

    /// The `nth` call of `kind` from now on (1 = the next) runs `before`, then fails with
    /// `error`, or is made as usual when `error` is 0.
    void fail(FsCall kind, int nth, int error, std::function<void()> before = {}) {
        kind_ = kind;
        left_ = nth;
        error_ = error;
        before_ = std::move(before);
        hit = false;
    }
    std::size_t chunk = 0;    // most bytes one read or write moves; 0 = no limit
    off_t claimed_size = -1;  // when >= 0, the size fstat() reports for every file
    bool hit = false;         // the chosen call was made

    int open(const std::string& path, int flags, mode_t mode = 0) override {
        return failing_open(flags) ? -error_ : real_.open(path, flags, mode);
    }
    int openat(int folder, const std::string& name, int flags, mode_t mode = 0) override {
        return failing_open(flags) ? -error_ : real_.openat(folder, name, flags, mode);
    }
    long read(int fd, void* buffer, std::size_t size) override {
        return failing(FsCall::read) ? -error_ : real_.read(fd, buffer, limit(size));
    }
    long write(int fd, const void* buffer, std::size_t size) override {
        return failing(FsCall::write) ? -error_ : real_.write(fd, buffer, limit(size));
    }
    int fsync(int fd) override { return failing(FsCall::fsync) ? error_ : real_.fsync(fd); }
    int fchmod(int fd, mode_t mode) override {
        return failing(FsCall::fchmod) ? error_ : real_.fchmod(fd, mode);
    }
    int fchown(int fd, uid_t uid, gid_t gid) override {
        return failing(FsCall::fchown) ? error_ : real_.fchown(fd, uid, gid);
    }
    int close(int fd) override {
        const bool fails = failing(FsCall::close);  // the descriptor is released all the same
        const int result = real_.close(fd);
        return fails ? error_ : result;
    }
    int fstatat(int folder, const std::string& name, struct stat* info, int flags) override {
        return failing(FsCall::fstatat) ? error_ : real_.fstatat(folder, name, info, flags);
    }
    int renameat(int from_folder, const std::string& from, int to_folder,
                 const std::string& to) override {
        return failing(FsCall::rename) ? error_ : real_.renameat(from_folder, from, to_folder, to);
    }
    int unlinkat(int folder, const std::string& name, int flags) override {
        return failing(FsCall::unlink) ? error_ : real_.unlinkat(folder, name, flags);
    }
    int renameat2(int from_folder, const std::string& from, int to_folder, const std::string& to,
                  unsigned flags) override {
        return failing(FsCall::exchange) ? error_
                                         : real_.renameat2(from_folder, from, to_folder, to, flags);
    }
    int linkat(int from_folder, const std::string& from, int to_folder, const std::string& to,
               int flags) override {
        return failing(FsCall::link) ? error_
                                     : real_.linkat(from_folder, from, to_folder, to, flags);
    }
    int lock(int fd, short type) override {
        return failing(FsCall::lock) ? error_ : real_.lock(fd, type);
    }
    int list_names(const std::string& folder, std::vector<std::string>& names) override {
        return failing(FsCall::list) ? error_ : real_.list_names(folder, names);
    }
    int fstat(int fd, struct stat* info) override {
        const int result = real_.fstat(fd, info);
        if (result == 0 && claimed_size >= 0) {
            info->st_size = claimed_size;
        }
        return result;
    }
    int flistxattr(int fd, std::vector<std::string>& names) override {
        return failing(FsCall::list_xattr) ? error_ : real_.flistxattr(fd, names);
    }
    int fgetxattr(int fd, const std::string& name, std::string& value) override {
        return failing(FsCall::get_xattr) ? error_ : real_.fgetxattr(fd, name, value);
    }
    int fsetxattr(int fd, const std::string& name, std::string_view value) override {
        return failing(FsCall::set_xattr) ? error_ : real_.fsetxattr(fd, name, value);
    }
    int fremovexattr(int fd, const std::string& name) override {
        return failing(FsCall::remove_xattr) ? error_ : real_.fremovexattr(fd, name);
    }

  private:
    bool failing_open(int flags) {
        // O_TMPFILE holds the bits of O_DIRECTORY.
        if ((flags & O_TMPFILE) == O_TMPFILE || (flags & O_CREAT) != 0) {
            return failing(FsCall::create);
        }
        return (flags & O_DIRECTORY) != 0 && failing(FsCall::open_folder);
    }
    std::size_t limit(std::size_t size) const { return chunk != 0 ? std::min(size, chunk) : size; }
    /// Whether this call is the chosen one and is to fail with error_.
    bool failing(FsCall kind) {
        if (kind != kind_ || --left_ != 0) {
            return false;
        }
        hit = true;
        if (before_) {
            before_();
        }
        return error_ != 0;
    }

    FsCall kind_ = FsCall::none;
    int left_ = 0;  // calls of kind_ until the chosen one
    int error_ = 0;
    std::function<void()> before_;
};

}  // namespace wendrel::test
