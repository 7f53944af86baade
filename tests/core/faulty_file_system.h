#pragma once

#include <array>
#include <cstddef>
#include <functional>

#include "core/file_system.h"

namespace wendrel::test {

enum class FsCall {
    open,
    create,  // an open() with O_CREAT: the new file of a write-back
    read,
    write,
    fstat,
    fsync,
    fchmod,
    fchown,
    close,
    stat,
    access,
    rename,
    unlink,
    realpath,
    list_names,
    count_
};

/// Forwards to a real file system, but can fail one chosen call with a chosen errno and
/// shorten reads and writes, so tests can see what a fault at any step leaves behind.
class FaultyFileSystem final : public core::FileSystem {
  public:
    explicit FaultyFileSystem(core::FileSystem& real);

    /// The `nth` call of `kind` from now on (1 = the next one) fails with `error`.
    void fail(FsCall kind, int nth, int error);
    /// Runs `action` just before the `nth` call of `kind` from now on is made, e.g. to
    /// play another program that changes a file in the middle of a write-back.
    void before(FsCall kind, int nth, std::function<void()> action);
    /// Every read / write moves at most `bytes` bytes (0 = no limit).
    void limit_reads(std::size_t bytes) { read_limit_ = bytes; }
    void limit_writes(std::size_t bytes) { write_limit_ = bytes; }
    bool fault_hit() const { return hit_; }
    int calls(FsCall kind) const { return counts_[index(kind)]; }

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
    int rename(const std::string& from, const std::string& to) override;
    int unlink(const std::string& path) override;
    int realpath(const std::string& path, std::string& resolved) override;
    int list_names(const std::string& folder, std::vector<std::string>& names) override;
    bool running_as_root() override { return real_.running_as_root(); }

  private:
    static std::size_t index(FsCall kind) { return static_cast<std::size_t>(kind); }
    /// Counts the call; gives the errno to fail it with, or 0 to forward it.
    int injected(FsCall kind);

    core::FileSystem& real_;
    std::array<int, static_cast<std::size_t>(FsCall::count_)> counts_{};
    FsCall fault_kind_ = FsCall::count_;
    int fault_at_ = 0;  // value of the call counter that fails
    int fault_errno_ = 0;
    bool hit_ = false;
    FsCall action_kind_ = FsCall::count_;
    int action_at_ = 0;
    std::function<void()> action_;
    std::size_t read_limit_ = 0;
    std::size_t write_limit_ = 0;
};

}  // namespace wendrel::test
