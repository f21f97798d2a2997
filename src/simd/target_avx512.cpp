// The kernel table for AVX-512 (F, DQ, VL, BW): every shared kernel template instantiated in
// rc::simd::avx512, so that no instantiation compiled with these instructions can be merged with
// a baseline one. Soft-DTW's four-lane kernels keep AVX2's vectors; its 16 and 8 lanes and GAK's
// 8 take AVX-512's, where the lane exp costs less per element.

// GCC 12 reports the deliberately undefined pass-through operand inside its own AVX-512
// intrinsics (_mm512_undefined_pd) as uninitialised when building with sanitizers.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "simd/exp_table.hpp"
#include "simd/log_table.hpp"
#include "simd/kernels.hpp"

namespace rc::simd::avx512 {

#include "simd/ops_scalar.hpp"
#include "simd/ops_avx2.hpp"
#include "simd/ops_avx512.hpp"
#include "simd/kernels-inl.hpp"

using Wide = Avx512;
using ExpBound = Avx512;
using CallBound = Avx2;
constexpr const char* kTarget = "avx512";
// Four rows of x at a time: with two vectors of pairs that is 16 accumulators of the 32 registers.
constexpr std::size_t kDtwRows = 4;
constexpr bool kSoftDtwTwoRows = true;
constexpr std::size_t kSoftDtwLanes = 32;
// One group of eight: more concurrent streams make the series collide in the L1 cache when their
// distance is a multiple of 4 KiB, as it often is. Strided blocks take AVX2's gathers.
constexpr auto manhattan_sum = manhattan_lanes::sum_lanes_wide_then_narrow<Avx512, 1, Avx2, 2>;

// The front-search scan keeps AVX2's 32-byte vectors, the width it was tuned and measured at.
constexpr std::size_t kNdsScanBytes = 32;

#include "simd/table-inl.hpp"

}  // namespace rc::simd::avx512
