#pragma once

namespace wendrel::core {

class FileSystem;

/// Owns an open descriptor and closes it through the FileSystem on every path out, so that a
/// descriptor (and a lock held on it) outlives neither its owner nor a failure.
class FileDescriptor {
  public:
    FileDescriptor() = default;
    FileDescriptor(FileSystem& fs, int fd) : fs_(&fs), fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept;
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { close(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    /// Closes now and reports the error, which matters after writing; 0 when none was open.
    int close();

  private:
    FileSystem* fs_ = nullptr;
    int fd_ = -1;
};

}  // namespace wendrel::core
