#include "buffer.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace rc {

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
