// GAK strip kernel for AVX-512: one vector of 8 rows.

// GCC 12 reports the deliberately undefined pass-through operand inside its own AVX-512
// intrinsics as uninitialised.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "distances/gak_lanes.hpp"
#include "simd/exp_table.hpp"

namespace {
#include "distances/simd_ops_avx512.hpp"
#include "simd/exp_ops.hpp"
#include "simd/exp-inl.hpp"
#include "distances/exp_policies.hpp"
#include "distances/gak_lanes_kernel.hpp"
}  // namespace

namespace rc::distances::gak_lanes {

const StripKernel kAvx512Strip[3] = {gak_strip<ExpOps, LibraryExp>, gak_strip<ExpOps, LaneExp<true>>,
                                      gak_strip<ExpOps, LaneExp<false>>};

}  // namespace rc::distances::gak_lanes
