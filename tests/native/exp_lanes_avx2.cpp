// The lane exp and the log bracket for AVX2 with FMA, for exp_check.
#include <immintrin.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "exp_lanes.hpp"
#include "libm/exp_table.hpp"
#include "libm/log_table.hpp"

namespace exp_check {
namespace {
#include "simd/ops_avx2.hpp"
#include "libm/exp-inl.hpp"
#include "libm/log_bracket-inl.hpp"
}  // namespace

const rc::simd::ExpArrays kAvx2 = exp_arrays_of<Avx2>("avx2");
const rc::simd::LogBracketArray kAvx2Log = log_bracket_array_of<Avx2>();

}  // namespace exp_check
