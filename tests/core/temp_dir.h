#pragma once

#include <algorithm>
#include <filesystem>
#include <vector>

#include "test_util.h"

namespace wendrel::test {

/// A fresh folder under /tmp that is removed with all its content when the test ends.
class TempDir {
  public:
    TempDir() {
        std::string pattern = "/tmp/wendrel-test-XXXXXX";
        check(::mkdtemp(pattern.data()) == nullptr ? -1 : 0, "mkdtemp");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    const std::string& path() const { return path_; }
    std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

    std::string write(std::string_view name, std::string_view content, mode_t mode = 0644) const {
        write_all(*this / name, content);
        check(::chmod((*this / name).c_str(), mode), "chmod");
        return *this / name;
    }
    std::string make_dir(std::string_view name) const {
        check(::mkdir((*this / name).c_str(), 0755), "mkdir");
        return *this / name;
    }
    std::string make_fifo(std::string_view name) const {
        check(::mkfifo((*this / name).c_str(), 0666), "mkfifo");
        return *this / name;
    }
    /// Names in the folder, sorted.
    std::vector<std::string> names(std::string_view sub = "") const {
        std::vector<std::string> out;
        for (const auto& item : std::filesystem::directory_iterator(*this / sub)) {
            out.push_back(item.path().filename().string());
        }
        std::sort(out.begin(), out.end());
        return out;
    }

  private:
    std::string path_;
};

}  // namespace wendrel::test
