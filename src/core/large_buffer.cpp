#include "large_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace wendrel::core {
namespace {

// Below this a buffer spans too few huge pages for the advice to pay.
constexpr std::size_t kLargeBuffer = std::size_t{4} << 20;

}  // namespace

void reserve_large(std::string& text, std::size_t size) {
    if (size <= text.capacity()) {
        return;
    }
    text.reserve(size);
#if defined(MADV_HUGEPAGE)
    if (size < kLargeBuffer) {
        return;
    }
    // Only advice: where the kernel has no huge pages to give, the buffer works as before.
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(text.data());
    const std::uintptr_t first = (begin + page - 1) & ~(page - 1);
    const std::uintptr_t end = (begin + text.capacity()) & ~(page - 1);
    if (end > first) {
        madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
    }
#endif
}

}  // namespace wendrel::core
