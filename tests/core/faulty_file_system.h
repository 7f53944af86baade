#pragma once

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <latch>
#include <mutex>
#include <semaphore>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/file_system.h"

namespace wendrel::test {

// `create`: an open with O_CREAT or O_TMPFILE; `open_folder`: O_DIRECTORY alone; `exchange`: any
// renameat2.
// clang-format off
enum class FsCall { none, open_folder, create, read, write, fsync, fchmod, fchown, close, fstatat,
    rename, unlink, exchange, link, lock, list, access, list_xattr, get_xattr, set_xattr,
    remove_xattr, mkdir };
// clang-format on

/// Passes every call on to a real file system, but can fail one chosen call with a chosen errno,
/// or run an action just before it (to play another program), and can shorten reads and writes.
class FaultyFileSystem : public core::FileSystem {
  public:
    explicit FaultyFileSystem(core::FileSystem& real) : real_(real) {}
    using Fs = core::FileSystem;

    /// The `nth` call of `kind` from now on (1 = the next) runs `before`, then fails with
    /// `error`, or is made as usual when `error` is 0.
    void fail(FsCall kind, int nth, int error, std::function<void()> before = {}) {
        chosen_ = {kind, nth, error, std::move(before)};
        hit = false;
    }
    std::size_t chunk = 0;  // most bytes one read or write moves; 0 = no limit
    bool hit = false;       // the chosen call was made

    int open(const std::string& path, int flags, mode_t mode = 0) override {
        return pass(open_kind(flags), &Fs::open, path, flags, mode);
    }
    long read(int fd, void* buffer, std::size_t size) override {
        return pass(FsCall::read, &Fs::read, fd, buffer, limit(size));
    }
    long write(int fd, const void* buffer, std::size_t size) override {
        return pass(FsCall::write, &Fs::write, fd, buffer, limit(size));
    }
    int fstat(int fd, struct stat* info) override { return real_.fstat(fd, info); }
    int fsync(int fd) override { return pass(FsCall::fsync, &Fs::fsync, fd); }
    int fchmod(int fd, mode_t mode) override { return pass(FsCall::fchmod, &Fs::fchmod, fd, mode); }
    int fchown(int fd, uid_t owner, gid_t group) override {
        return pass(FsCall::fchown, &Fs::fchown, fd, owner, group);
    }
    int close(int fd) override {
        const int error = fault(FsCall::close);  // the descriptor is released all the same
        const int result = real_.close(fd);
        return error != 0 ? error : result;
    }
    int stat(const std::string& path, struct stat* info) override { return real_.stat(path, info); }
    int access(const std::string& path, int mode) override {
        return pass(FsCall::access, &Fs::access, path, mode);
    }
    int openat(int folder, const std::string& name, int flags, mode_t mode = 0) override {
        return pass(open_kind(flags), &Fs::openat, folder, name, flags, mode);
    }
    int fstatat(int folder, const std::string& name, struct stat* info, int flags) override {
        return pass(FsCall::fstatat, &Fs::fstatat, folder, name, info, flags);
    }
    int renameat(int from_folder, const std::string& from, int to_folder,
                 const std::string& to) override {
        return pass(FsCall::rename, &Fs::renameat, from_folder, from, to_folder, to);
    }
    int unlinkat(int folder, const std::string& name, int flags) override {
        return pass(FsCall::unlink, &Fs::unlinkat, folder, name, flags);
    }
    int renameat2(int from_folder, const std::string& from, int to_folder, const std::string& to,
                  unsigned flags) override {
        return pass(FsCall::exchange, &Fs::renameat2, from_folder, from, to_folder, to, flags);
    }
    int mkdirat(int folder, const std::string& name, mode_t mode) override {
        return pass(FsCall::mkdir, &Fs::mkdirat, folder, name, mode);
    }
    int linkat(int from_folder, const std::string& from, int to_folder, const std::string& to,
               int flags) override {
        return pass(FsCall::link, &Fs::linkat, from_folder, from, to_folder, to, flags);
    }
    int lock(int fd, short type) override { return pass(FsCall::lock, &Fs::lock, fd, type); }
    int dup(int fd) override { return real_.dup(fd); }
    long lseek(int fd, off_t at, int whence) override { return real_.lseek(fd, at, whence); }
    int realpath(const std::string& path, std::string& resolved) override {
        return real_.realpath(path, resolved);
    }
    int list_names(const std::string& folder, std::vector<std::string>& names) override {
        return pass(FsCall::list, &Fs::list_names, folder, names);
    }
    int list_entries(int folder, std::vector<FolderEntry>& entries) override {
        return pass(FsCall::list, &Fs::list_entries, folder, entries);
    }
    bool running_as_root() override { return real_.running_as_root(); }
    int flistxattr(int fd, std::vector<std::string>& names) override {
        return pass(FsCall::list_xattr, &Fs::flistxattr, fd, names);
    }
    int fgetxattr(int fd, const std::string& name, std::string& value) override {
        return pass(FsCall::get_xattr, &Fs::fgetxattr, fd, name, value);
    }
    int fsetxattr(int fd, const std::string& name, std::string_view value) override {
        return pass(FsCall::set_xattr, &Fs::fsetxattr, fd, name, value);
    }
    int fremovexattr(int fd, const std::string& name) override {
        return pass(FsCall::remove_xattr, &Fs::fremovexattr, fd, name);
    }

  protected:
    core::FileSystem& real_;

  private:
    std::size_t limit(std::size_t size) const { return chunk != 0 ? std::min(size, chunk) : size; }
    /// 0, or the errno with which this call of `kind` fails instead of being made.
    int fault(FsCall kind) {
        std::function<void()> before;
        int error = 0;
        {
            // A folder walk calls from several threads; the action runs unlocked, as it may
            // hold its call until another thread's calls have been made.
            const std::lock_guard lock(mutex_);
            if (kind == FsCall::none || kind != chosen_.kind || --chosen_.left != 0) {
                return 0;
            }
            hit = true;
            before = chosen_.before;
            error = chosen_.error;
        }
        if (before) {
            before();
        }
        return error;
    }
    /// The real call, or its fault's errno, negative for the kinds up to `write`.
    template <typename R, typename... P, typename... A>
    R pass(FsCall kind, R (Fs::*call)(P...), A&&... args) {
        const int error = kind <= FsCall::write ? -fault(kind) : fault(kind);
        return error != 0 ? static_cast<R>(error) : (real_.*call)(std::forward<A>(args)...);
    }
    static FsCall open_kind(int flags) {
        if ((flags & O_TMPFILE) == O_TMPFILE || (flags & O_CREAT) != 0) {
            return FsCall::create;
        }
        return (flags & O_DIRECTORY) != 0 ? FsCall::open_folder : FsCall::none;
    }

    std::mutex mutex_;
    struct {
        FsCall kind = FsCall::none;
        int left = 0, error = 0;  // left: calls of `kind` until the chosen one
        std::function<void()> before;
    } chosen_;
};

/// Holds the `nth` call of `kind` (made on a writer thread) until release(). Had the test's own
/// thread waited for the call meanwhile, it could not release it: the hold then gives up after a
/// while and says so.
struct HeldCall {
    HeldCall(FaultyFileSystem& fs, FsCall kind, int nth = 1) {
        fs.fail(kind, nth, 0, [this] {
            reached.count_down();
            gave_up = !released.try_acquire_for(std::chrono::seconds(20));
        });
    }
    void release() { released.release(); }
    std::latch reached{1};
    bool gave_up = false;  // read once the held write has been seen to end

  private:
    std::binary_semaphore released{0};
};

}  // namespace wendrel::test
