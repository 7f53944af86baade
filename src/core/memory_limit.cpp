#include "memory_limit.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <sstream>

#include "file_system.h"
#include "posix_file_system.h"

namespace wendrel::core {
namespace {

// No machine has this much memory: a cgroup value this large is the kernel's "no limit".
constexpr std::uint64_t kNoLimitAbove = std::uint64_t{1} << 60;

std::optional<std::string> read_small_file(FileSystem& fs, const std::string& path) {
    const int fd = fs.open(path, O_RDONLY);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text;
    char block[4096];
    long n;
    while ((n = fs.read(fd, block, sizeof block)) > 0) {
        text.append(block, static_cast<std::size_t>(n));
    }
    fs.close(fd);
    return n < 0 ? std::nullopt : std::optional(std::move(text));
}

std::optional<std::uint64_t> smaller(std::optional<std::uint64_t> a,
                                     std::optional<std::uint64_t> b) {
    if (!a || !b) {
        return a ? a : b;
    }
    return std::min(*a, *b);
}

// The limit of the cgroup at `path` under `root` and of each of its ancestors: a child may
// state none while its parent's applies to it all the same.
std::optional<std::uint64_t> limit_up_from(const std::string& root, std::string path,
                                           const std::string& file,
                                           const MemoryLimit::FileReader& read) {
    std::optional<std::uint64_t> limit;
    for (;;) {
        while (path.size() > 1 && path.back() == '/') {
            path.pop_back();
        }
        const std::string folder = path == "/" ? root : root + path;
        if (const auto text = read(folder + "/" + file)) {
            limit = smaller(limit, MemoryLimit::parse_limit(*text));
        }
        const auto slash = path.rfind('/');
        if (path == "/" || slash == std::string::npos) {
            return limit;
        }
        path.resize(slash == 0 ? 1 : slash);
    }
}

bool names_memory(std::string_view controllers) {
    for (std::size_t at = 0; at <= controllers.size();) {
        const std::size_t comma = std::min(controllers.find(',', at), controllers.size());
        if (controllers.substr(at, comma - at) == "memory") {
            return true;
        }
        at = comma + 1;
    }
    return false;
}

}  // namespace

std::optional<std::uint64_t> MemoryLimit::parse_limit(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.remove_suffix(1);
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        value >= kNoLimitAbove) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint64_t> MemoryLimit::cgroup_limit(std::string_view proc_self_cgroup,
                                                       const FileReader& read) {
    std::optional<std::uint64_t> limit;
    std::istringstream lines{std::string(proc_self_cgroup)};
    // Each line is "hierarchy-id:controllers:path"; v2's single hierarchy is "0::path".
    for (std::string line; std::getline(lines, line);) {
        const auto first = line.find(':');
        const auto second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) {
            continue;
        }
        const std::string_view controllers(line.data() + first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (line.compare(0, first, "0") == 0 && controllers.empty()) {
            limit = smaller(limit, limit_up_from("/sys/fs/cgroup", path, "memory.max", read));
        } else if (names_memory(controllers)) {
            limit = smaller(
                limit, limit_up_from("/sys/fs/cgroup/memory", path, "memory.limit_in_bytes", read));
        }
    }
    return limit;
}

std::uint64_t MemoryLimit::read(FileSystem& fs) {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    std::optional<std::uint64_t> limit;
    if (pages > 0 && page_size > 0) {
        limit = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
    }
    const auto reader = [&fs](const std::string& path) { return read_small_file(fs, path); };
    if (const auto cgroups = reader("/proc/self/cgroup")) {
        limit = smaller(limit, cgroup_limit(*cgroups, reader));
    }
    struct rlimit address_space {};
    if (getrlimit(RLIMIT_AS, &address_space) == 0 && address_space.rlim_cur != RLIM_INFINITY) {
        // The first field of statm is the size of everything mapped, in pages.
        std::uint64_t mapped_pages = 0;
        if (const auto statm = reader("/proc/self/statm")) {
            std::from_chars(statm->data(), statm->data() + statm->size(), mapped_pages);
        }
        // What is already mapped counts against the limit too.
        const std::uint64_t mapped = mapped_pages * static_cast<std::uint64_t>(page_size);
        const std::uint64_t most = address_space.rlim_cur;
        limit = smaller(limit, most > mapped ? most - mapped : 0);
    }
    return limit.value_or(kNoLimitAbove);
}

std::uint64_t MemoryLimit::usable() {
    static const std::uint64_t usable = read(PosixFileSystem::instance());
    return usable;
}

}  // namespace wendrel::core
