// The kernel table for the x86-64 baseline (SSE2), also the table of any other processor (one
// lane): every shared kernel template instantiated in rc::simd::baseline. DTW pairs and
// Manhattan pairs run one at a time here, which two-lane vectors would barely beat.
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

namespace rc::simd::baseline {

#include "simd/ops_scalar.hpp"
#if defined(__SSE2__)
#include "simd/ops_baseline.hpp"
#endif
#include "simd/kernels-inl.hpp"

#if defined(__SSE2__)
using Wide = Baseline;
#else
using Wide = Scalar;
#endif
using CallBound = Wide;
using ExpBound = Wide;
constexpr const char* kTarget = "baseline";
constexpr std::size_t kDtwRows = 0;
// Soft-DTW rows one at a time and at most 16 lanes: two rows or 32 lanes in SSE2's 16 registers
// spill more than their overlap gains.
constexpr bool kSoftDtwTwoRows = false;
constexpr std::size_t kSoftDtwLanes = 16;
constexpr std::size_t (*manhattan_sum)(const rc::distances::manhattan::Block&, std::size_t, double*) = nullptr;

void dtw_one_pair(const rc::distances::dtw::LaneProblem& problem) {
    dtw_strip::accumulate_any<Scalar, 1, rc::distances::dtw::kStripRows>(problem);
}

// 16-byte vectors: the baseline's SSE2, or whatever generic vectors map to elsewhere.
constexpr std::size_t kNdsScanBytes = 16;

#include "simd/table-inl.hpp"

}  // namespace rc::simd::baseline
