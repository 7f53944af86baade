#include "temp_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "test_util.h"

namespace wendrel::test {

TempDir::TempDir() {
    std::string pattern = "/tmp/wendrel-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(std::string_view name, std::string_view content, mode_t mode) const {
    const std::string path = *this / name;
    write_all(path, content);
    if (::chmod(path.c_str(), mode) != 0) {
        throw std::system_error(errno, std::generic_category(), "chmod " + path);
    }
    return path;
}

std::string TempDir::make_dir(std::string_view name, mode_t mode) const {
    const std::string path = *this / name;
    if (::mkdir(path.c_str(), mode) != 0 || ::chmod(path.c_str(), mode) != 0) {
        throw std::system_error(errno, std::generic_category(), "mkdir " + path);
    }
    return path;
}

std::string TempDir::make_fifo(std::string_view name) const {
    const std::string path = *this / name;
    if (::mkfifo(path.c_str(), 0666) != 0) {
        throw std::system_error(errno, std::generic_category(), "mkfifo " + path);
    }
    return path;
}

std::vector<std::string> TempDir::names(std::string_view sub) const {
    std::vector<std::string> out;
    const std::string folder = sub.empty() ? path_ : *this / sub;
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        out.push_back(item.path().filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace wendrel::test
