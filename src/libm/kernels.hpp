// The C library's exp, and an interval around its log, in SIMD lanes over arrays: one table per
// target (libm/table.hpp), the process's chosen at first use. The probe in entries.cpp decides
// whether kernels use them.
#pragma once

#include <cstddef>

namespace rc::libm {

// exp of in[0..count) into out[0..count), in and out the same array or disjoint.
using ExpArray = void (*)(const double* in, double* out, std::size_t count);

// lo[k] <= log(in[k]) <= hi[k] for in[k] in [1, 4), lo[k] and hi[k] NaN for other arguments.
using LogBracketArray = void (*)(const double* in, double* lo, double* hi, std::size_t count);

struct Kernels {
    ExpArray exp_fused;  // the library's variant with fused multiply-adds
    ExpArray exp_plain;  // the variant without
    LogBracketArray log_bracket;
    bool native_fma;     // the fused variant's fma is one instruction here, not a call per lane
};

// Defined in libm/table.hpp, instantiated once per target in the target's own translation unit.
template <class Isa>
Kernels make_table();

// The table of the process's target.
const Kernels& kernels() noexcept;

}  // namespace rc::libm
