#include "file_descriptor.h"

#include <utility>

#include "file_system.h"

namespace wendrel::core {

FileDescriptor::FileDescriptor(FileDescriptor&& other) noexcept
    : fs_(other.fs_), fd_(std::exchange(other.fd_, -1)) {}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        close();
        fs_ = other.fs_;
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

int FileDescriptor::close() {
    if (fd_ < 0) {
        return 0;
    }
    return fs_->close(std::exchange(fd_, -1));
}

}  // namespace wendrel::core
