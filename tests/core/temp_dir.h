#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace wendrel::test {

/// A fresh folder under /tmp that is removed with all its content when the test ends.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

    /// Creates or replaces the file `name` with `content` and the mode bits `mode`.
    std::string write(std::string_view name, std::string_view content, mode_t mode = 0644) const;
    std::string make_dir(std::string_view name, mode_t mode = 0755) const;
    std::string make_fifo(std::string_view name) const;
    /// Names in the folder (without "." and ".."), sorted.
    std::vector<std::string> names(std::string_view sub = "") const;

  private:
    std::string path_;
};

}  // namespace wendrel::test
