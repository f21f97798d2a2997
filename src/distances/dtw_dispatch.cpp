// Which lane kernels cdist_dtw uses, by the process's SIMD level; every level gives the same
// bits.
#include "distances/dtw_kernels.hpp"
#include "simd_level.hpp"

namespace rc::distances::dtw_detail {
namespace {

const dtw_lanes::LaneKernels* choose() noexcept {
    const SimdLevel level = simd_level();
#if defined(__x86_64__)
    if (level == SimdLevel::avx512) return &dtw_lanes::kAvx512LaneKernels;
    if (level == SimdLevel::avx2) return &dtw_lanes::kAvx2LaneKernels;
#endif
    (void)level;
    return nullptr;
}

}  // namespace

const dtw_lanes::LaneKernels* lane_kernels() noexcept {
    static const dtw_lanes::LaneKernels* const chosen = choose();
    return chosen;
}

}  // namespace rc::distances::dtw_detail
