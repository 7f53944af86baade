#include "core/memory_limit.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <map>
#include <tuple>

#include "core/posix_file_system.h"
#include "test_util.h"

namespace wendrel::test {
namespace {

using core::MemoryLimit;
using Limit = std::optional<std::uint64_t>;

constexpr std::uint64_t kMiB = 1 << 20;

// The cgroup of the process and its ancestors, in either version; a file that is missing, says
// "max" or holds no plain, believable number sets nothing.
TEST(MemoryLimit, TakesTheSmallestLimitOfTheMemoryCgroupAndItsAncestors) {
    const std::string v1 = "/sys/fs/cgroup/memory", v2 = "/sys/fs/cgroup";
    const std::string v1_file = "/memory.limit_in_bytes", v2_file = "/memory.max";
    // /proc/self/cgroup, the files, the limit
    // clang-format off
    const std::tuple<const char*, std::map<std::string, std::string>, Limit> rows[] = {
        {"4:memory:/a/b\n0::/\n", {{v1 + "/a/b" + v1_file, "3221225472\n"}}, 3221225472},
        {"3:cpu,memory:/a/b\n", {{v1 + "/a/b" + v1_file, "9223372036854771712\n"},
                                 {v1 + "/a" + v1_file, "1048576\n"}}, 1048576},
        {"4:memory:/\n", {{v1 + v1_file, "1000\n"}}, 1000},
        {"0::/user.slice/app\n", {{v2 + "/user.slice/app" + v2_file, "max\n"},
                                  {v2 + "/user.slice" + v2_file, "2048\n"}}, 2048},
        {"4:memory:/a\n", {}, {}},
        {"2:cpu:/a\n1:memoryx:/a\n", {{v1 + "/a" + v1_file, "1000\n"}}, {}},
        {"4:memory:/a\n0::/b\n", {{v1 + "/a" + v1_file, "5000\n"}, {v2 + "/b" + v2_file, "4000\n"}},
         4000},
        {"", {{v1 + v1_file, "1000\n"}}, {}},          {"0::/\n", {{v2 + v2_file, "4096"}}, 4096},
        {"0::/\n", {{v2 + v2_file, ""}}, {}},          {"0::/\n", {{v2 + v2_file, "12k\n"}}, {}},
        {"0::/\n", {{v2 + v2_file, "-1\n"}}, {}}};
    // clang-format on
    for (const auto& [cgroup, files, expected] : rows) {
        const auto read = [&](const std::string& path) -> std::optional<std::string> {
            const auto it = files.find(path);
            return it == files.end() ? std::nullopt : std::optional(it->second);
        };
        EXPECT_EQ(MemoryLimit::cgroup_limit(cgroup, read), expected) << cgroup;
    }
}

// Never above the machine's memory; under an RLIMIT_AS (set in a child) about the room it leaves.
TEST(MemoryLimit, ReadsTheMachineAndTheAddressSpaceLimit) {
    const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    const auto physical = static_cast<std::uint64_t>(sysconf(_SC_PHYS_PAGES)) * page;
    const std::uint64_t usable = MemoryLimit::read(core::PosixFileSystem::instance());
    EXPECT_GT(usable, 0u);
    EXPECT_LE(usable, physical);

    const std::uint64_t mapped = std::stoull(read_all("/proc/self/statm").value_or("0")) * page;
    const pid_t child = fork();
    if (child == 0) {
        const rlimit limit{mapped + 200 * kMiB, mapped + 200 * kMiB};
        const std::uint64_t room = setrlimit(RLIMIT_AS, &limit) == 0
                                       ? MemoryLimit::read(core::PosixFileSystem::instance())
                                       : 0;
        _exit(room > 150 * kMiB && room <= 200 * kMiB ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the room under RLIMIT_AS is not what the limit leaves";
}

}  // namespace
}  // namespace wendrel::test
