#include "faulty_file_system.h"

#include <fcntl.h>

#include <algorithm>

namespace wendrel::test {

FaultyFileSystem::FaultyFileSystem(core::FileSystem& real) : real_(real) {}

void FaultyFileSystem::fail(FsCall kind, int nth, int error) {
    fault_kind_ = kind;
    fault_at_ = counts_[index(kind)] + nth;
    fault_errno_ = error;
    hit_ = false;
}

void FaultyFileSystem::before(FsCall kind, int nth, std::function<void()> action) {
    action_kind_ = kind;
    action_at_ = counts_[index(kind)] + nth;
    action_ = std::move(action);
}

int FaultyFileSystem::injected(FsCall kind) {
    const int count = ++counts_[index(kind)];
    if (kind == action_kind_ && count == action_at_ && action_) {
        action_();
    }
    if (kind == fault_kind_ && count == fault_at_) {
        hit_ = true;
        return fault_errno_;
    }
    return 0;
}

int FaultyFileSystem::open(const std::string& path, int flags, mode_t mode) {
    int error = injected(FsCall::open);
    if ((flags & O_CREAT) != 0 && error == 0) {
        error = injected(FsCall::create);
    }
    return error != 0 ? -error : real_.open(path, flags, mode);
}

long FaultyFileSystem::read(int fd, void* buffer, std::size_t size) {
    const int error = injected(FsCall::read);
    if (error != 0) {
        return -error;
    }
    return real_.read(fd, buffer, read_limit_ != 0 ? std::min(size, read_limit_) : size);
}

long FaultyFileSystem::write(int fd, const void* buffer, std::size_t size) {
    const int error = injected(FsCall::write);
    if (error != 0) {
        return -error;
    }
    return real_.write(fd, buffer, write_limit_ != 0 ? std::min(size, write_limit_) : size);
}

int FaultyFileSystem::fstat(int fd, struct stat* info) {
    const int error = injected(FsCall::fstat);
    return error != 0 ? error : real_.fstat(fd, info);
}

int FaultyFileSystem::fsync(int fd) {
    const int error = injected(FsCall::fsync);
    return error != 0 ? error : real_.fsync(fd);
}

int FaultyFileSystem::fchmod(int fd, mode_t mode) {
    const int error = injected(FsCall::fchmod);
    return error != 0 ? error : real_.fchmod(fd, mode);
}

int FaultyFileSystem::fchown(int fd, uid_t owner, gid_t group) {
    const int error = injected(FsCall::fchown);
    return error != 0 ? error : real_.fchown(fd, owner, group);
}

int FaultyFileSystem::close(int fd) {
    // Like a real close() that reports an error, the descriptor is released all the same.
    const int error = injected(FsCall::close);
    const int result = real_.close(fd);
    return error != 0 ? error : result;
}

int FaultyFileSystem::stat(const std::string& path, struct stat* info) {
    const int error = injected(FsCall::stat);
    return error != 0 ? error : real_.stat(path, info);
}

int FaultyFileSystem::access(const std::string& path, int mode) {
    const int error = injected(FsCall::access);
    return error != 0 ? error : real_.access(path, mode);
}

int FaultyFileSystem::rename(const std::string& from, const std::string& to) {
    const int error = injected(FsCall::rename);
    return error != 0 ? error : real_.rename(from, to);
}

int FaultyFileSystem::unlink(const std::string& path) {
    const int error = injected(FsCall::unlink);
    return error != 0 ? error : real_.unlink(path);
}

int FaultyFileSystem::realpath(const std::string& path, std::string& resolved) {
    const int error = injected(FsCall::realpath);
    return error != 0 ? error : real_.realpath(path, resolved);
}

int FaultyFileSystem::list_names(const std::string& folder, std::vector<std::string>& names) {
    const int error = injected(FsCall::list_names);
    return error != 0 ? error : real_.list_names(folder, names);
}

}  // namespace wendrel::test
