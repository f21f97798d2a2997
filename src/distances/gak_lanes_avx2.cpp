// GAK strip kernel for AVX2 (also used on AVX-512 machines): two vectors of 4 rows.
#include <immintrin.h>

#include <cstddef>

#include "distances/gak_lanes.hpp"

namespace {
#include "distances/simd_ops_avx2.hpp"
#include "distances/gak_lanes_kernel.hpp"
}  // namespace

namespace rc::distances::gak_lanes {

const StripKernel kAvx2Strip = gak_strip<Avx2>;

}  // namespace rc::distances::gak_lanes
