#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>

#include "forwarding_file_system.h"

namespace wendrel::test {

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
    std::size_t chunk = 0;  // most bytes one read or write moves; 0 = no limit
    bool hit = false;       // the chosen call was made

    long read(int fd, void* buffer, std::size_t size) override {
        return ForwardingFileSystem::read(fd, buffer, limit(size));
    }
    long write(int fd, const void* buffer, std::size_t size) override {
        return ForwardingFileSystem::write(fd, buffer, limit(size));
    }

  private:
    std::size_t limit(std::size_t size) const { return chunk != 0 ? std::min(size, chunk) : size; }
    int fault(FsCall kind) override {
        if (kind == FsCall::none || kind != kind_ || --left_ != 0) {
            return 0;
        }
        hit = true;
        if (before_) {
            before_();
        }
        return error_;
    }

    FsCall kind_ = FsCall::none;
    int left_ = 0;  // calls of kind_ until the chosen one
    int error_ = 0;
    std::function<void()> before_;
};

}  // namespace wendrel::test
