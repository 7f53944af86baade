#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace wendrel::core {

class FileSystem;

/// How much memory this process can count on: the smallest of the machine's memory, the limit
/// of its memory cgroup (v1 or v2, ancestors included) and the room left under RLIMIT_AS.
/// Going past any of them ends in the out-of-memory killer or a failed allocation, so the job
/// sizes what it holds by this rather than by the machine alone.
class MemoryLimit {
  public:
    /// Read on first use and kept: the limits are set before the program starts.
    static std::uint64_t usable();
    /// The most one file's text may take while it is held: it is held about twice over while
    /// a pass rewrites it (the text and the result).
    static std::size_t largest_held() { return static_cast<std::size_t>(usable() / 2); }
    /// Reads every limit through `fs` now.
    static std::uint64_t read(FileSystem& fs);

    /// The text of a file, or nothing when it cannot be read.
    using FileReader = std::function<std::optional<std::string>(const std::string& path)>;
    /// The smallest limit set on the memory cgroups named in `proc_self_cgroup` (the text of
    /// /proc/self/cgroup) or on any of their ancestors, reading their files through `read`.
    static std::optional<std::uint64_t> cgroup_limit(std::string_view proc_self_cgroup,
                                                     const FileReader& read);
    /// A limit as a cgroup file states it. Nothing for "max", for a value so large that the
    /// kernel uses it to mean no limit (v1 states none as about 2^63), or for anything else.
    static std::optional<std::uint64_t> parse_limit(std::string_view text);
};

}  // namespace wendrel::core
