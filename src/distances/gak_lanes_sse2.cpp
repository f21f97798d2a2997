// GAK strip kernel for the x86-64 baseline: four vectors of 2 rows.
#include <emmintrin.h>

#include <cstddef>

#include "distances/gak_lanes.hpp"

namespace {
#include "distances/simd_ops_sse2.hpp"
#include "distances/gak_lanes_kernel.hpp"
}  // namespace

namespace rc::distances::gak_lanes {

const StripKernel kSse2Strip = gak_strip<Sse2>;

}  // namespace rc::distances::gak_lanes
