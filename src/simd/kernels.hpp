// The table of vectorised kernels: one row per measure, one table per instruction set
// (target_*.cpp, all filled by table-inl.hpp), the process's chosen by dispatch.cpp. Adding a
// vector kernel is a template in the measure's *-inl.hpp, listed in kernels-inl.hpp, and a row
// here and in table-inl.hpp.
#pragma once

#include "algorithm/nds/kernels.hpp"
#include "algorithm/niching_search.hpp"
#include "distances/cost/kernels.hpp"
#include "distances/dtw/kernels.hpp"
#include "distances/gak/kernels.hpp"
#include "distances/manhattan/kernels.hpp"
#include "distances/soft_dtw/kernels.hpp"
#include "simd/exp.hpp"
#include "simd/log_bracket.hpp"

namespace rc::simd {

struct Kernels {
    const char* target;
    distances::cost::Kernels cost;
    distances::dtw::Kernels dtw;
    distances::soft_dtw::Kernels soft_dtw;
    distances::global_alignment::Kernels gak;
    distances::manhattan::Kernels manhattan;
    algorithm::niching::Kernels niching;
    algorithm::nds::ScanKernels nds_scan;
    ExpArrays exp;  // the C library's exp in lanes, both variants (exp-inl.hpp)
    LogBracketArray log_bracket;  // bounds on the C library's log (log_bracket-inl.hpp), or null
};

// Defined in the target files; a wider target's table is only read after a run-time CPU check.
namespace baseline {
extern const Kernels kKernels;
// The scalar DTW recurrence, one dependency chain: the tables of every target take this one, as
// the baseline encoding runs it faster (by about a sixth) than the same code built for AVX.
void dtw_one_pair(const distances::dtw::LaneProblem& problem);
}  // namespace baseline
namespace avx2 { extern const Kernels kKernels; }
namespace avx512 { extern const Kernels kKernels; }

}  // namespace rc::simd
