// GAK strip kernel for AVX2: two vectors of 4 rows.
#include <immintrin.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "distances/gak_lanes.hpp"
#include "simd/exp_table.hpp"

namespace {
#include "distances/simd_ops_avx2.hpp"
#include "simd/exp_ops.hpp"
#include "simd/exp-inl.hpp"
#include "distances/exp_policies.hpp"
#include "distances/gak_lanes_kernel.hpp"
}  // namespace

namespace rc::distances::gak_lanes {

const StripKernel kAvx2Strip[3] = {gak_strip<ExpOps, LibraryExp>, gak_strip<ExpOps, LaneExp<true>>,
                                    gak_strip<ExpOps, LaneExp<false>>};

}  // namespace rc::distances::gak_lanes
