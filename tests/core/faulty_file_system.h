#pragma once

#include <fcntl.h>

#include <algorithm>
#include <cstddef>
#include <functional>

#include "forwarding_file_system.h"

namespace wendrel::test {

// `create` is an open() with O_CREAT: the new file of a write-back; `list` lists a folder.
enum class FsCall { none, create, read, write, fsync, fchmod, fchown, close, rename, list };

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
        const bool fails = (flags & O_CREAT) != 0 && failing(FsCall::create);
        return fails ? -error_ : real_.open(path, flags, mode);
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
    int rename(const std::string& from, const std::string& to) override {
        return failing(FsCall::rename) ? error_ : real_.rename(from, to);
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

  private:
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
