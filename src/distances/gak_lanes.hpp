// Plain data shared by the GAK sweeps and their SIMD strip kernels (gak_lanes_sse2.cpp,
// gak_lanes_avx2.cpp); only types and declarations, as for the other lane kernels.
#pragma once

#include <cstddef>

#include "libm_entry.hpp"

namespace rc::distances::gak_lanes {

// Rows per strip, one per SIMD lane.
constexpr std::size_t kRows = 8;

// Rows i0 + 1 .. i0 + kRows of the accumulated matrix of one pair. Per-cell arrays are skewed:
// entry [t * kRows + w] belongs to row w's cell in column t - w, for t in [0, m + kRows), and
// entries outside the cells hold 0 (exponentials) or -inf (arguments).
struct StripProblem {
    const double* above;  // R[i0][0..m]
    double* below;        // receives R[i0 + kRows][1..m]
    const double* cells;  // this strip's exp(-cost / denom), turned into local kernels here; for
                          // the kernels with the lane exp, the arguments -cost / denom instead
    double* next;         // the next strip's exp arguments, replaced by their exponentials along
                          // the way (the calls overlap this strip's recurrence); null if none,
                          // and always for the kernels with the lane exp
    std::size_t m;        // at least 1
    const LibmEntry* libm;
};

using StripKernel = void (*)(const StripProblem&);

// Defined in the instruction-set files, one per simd::ExpVariant (the library's exp calls, the
// lane exp with fused multiply-adds, without); the AVX2 and AVX-512 ones are only read after a
// run-time CPU check.
extern const StripKernel kSse2Strip[3];
extern const StripKernel kAvx2Strip[3];
extern const StripKernel kAvx512Strip[3];

}  // namespace rc::distances::gak_lanes
