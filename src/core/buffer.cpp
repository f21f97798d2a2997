#include "core/buffer.hpp"

#include <sys/mman.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cstdint>
#include <limits>

namespace rc {
namespace {

// RAM and swap of the machine, read once; no limit when the system does not say.
std::size_t memory_and_swap() noexcept {
    struct sysinfo info {};
    if (sysinfo(&info) != 0) return std::numeric_limits<std::size_t>::max();
    std::size_t total = 0;
    if (__builtin_add_overflow(info.totalram, info.totalswap, &total) ||
        __builtin_mul_overflow(total, std::size_t{info.mem_unit}, &total))
        return std::numeric_limits<std::size_t>::max();
    return total;
}

}  // namespace

std::size_t allocatable_bytes(std::size_t n, std::size_t size) {
    const std::size_t bytes = checked_mul(n, size);
    if (bytes > static_cast<std::size_t>(PTRDIFF_MAX)) fail("capacity overflow");
    static const std::size_t limit = memory_and_swap();
    if (bytes > limit) throw std::bad_alloc();
    return bytes;
}

void advise_huge_pages(void* data, std::size_t bytes) noexcept {
    constexpr std::size_t kWorthIt = std::size_t{4} << 20;
    if (bytes < kWorthIt) return;
    static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const auto begin = (start + page - 1) / page * page;
    const auto end = (start + bytes) / page * page;
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace rc
