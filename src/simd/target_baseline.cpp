// The kernel table for the x86-64 baseline (SSE2), also the table of any other processor (one
// lane): every shared kernel template instantiated in rc::simd::baseline. DTW pairs and
// Manhattan pairs run one at a time here, which two-lane vectors would barely beat.
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "simd/kernels.hpp"

namespace rc::simd::baseline {

#include "simd/ops_scalar.hpp"
#if defined(__SSE2__)
#include "simd/ops_baseline.hpp"
#endif
#include "simd/calls-inl.hpp"
#include "distances/cost/rows-inl.hpp"
#include "distances/dtw/strip-inl.hpp"
#include "distances/dtw/path-inl.hpp"
#include "distances/soft_dtw/cells-inl.hpp"
#include "distances/gak/strip-inl.hpp"
#include "distances/manhattan/lanes-inl.hpp"
#include "algorithm/niching_search-inl.hpp"

#if defined(__SSE2__)
using Wide = Baseline;
#else
using Wide = Scalar;
#endif
using CallBound = Wide;
constexpr const char* kTarget = "baseline";
constexpr std::size_t kDtwRows = 0;
constexpr std::size_t (*manhattan_sum)(const rc::distances::manhattan::Block&, std::size_t, double*) = nullptr;

void dtw_one_pair(const rc::distances::dtw::LaneProblem& problem) {
    dtw_strip::accumulate_any<Scalar, 1, rc::distances::dtw::kStripRows>(problem);
}

#include "simd/table-inl.hpp"

}  // namespace rc::simd::baseline
