// The kernel table for AVX2: every shared kernel template instantiated in rc::simd::avx2, so that
// no instantiation compiled with these instructions can be merged with a baseline one.
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

namespace rc::simd::avx2 {

#include "simd/ops_scalar.hpp"
#include "simd/ops_avx2.hpp"
#include "simd/kernels-inl.hpp"

using Wide = Avx2;
using ExpBound = Avx2;
using CallBound = Avx2;
constexpr const char* kTarget = "avx2";
// Two rows of x at a time: with two vectors of pairs that is 8 accumulators of the 16 registers.
constexpr std::size_t kDtwRows = 2;
constexpr bool kSoftDtwTwoRows = true;
constexpr std::size_t kSoftDtwLanes = 32;
constexpr auto manhattan_sum = manhattan_lanes::sum_lanes<Avx2, 2>;

constexpr std::size_t kNdsScanBytes = 32;

#include "simd/table-inl.hpp"

}  // namespace rc::simd::avx2
