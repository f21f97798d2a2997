// The C library's scalar exp and log for the kernels that spend most of their time in them.
//
// glibc's public `exp` and `log` are thin wrappers: they call the implementation the library
// picked for this processor, then test the result to set errno on overflow or underflow. The
// kernels never read errno, and on the machines we measured the wrapper costs a third of the
// call. glibc also exports each implementation without the wrapper, under a versioned name of
// its own; when those are present and agree with the public functions on a set of probe
// arguments, the kernels call them, otherwise the public functions. Either way every result
// is the C library's own exp or log of the same argument, bit for bit.
//
// The library's exp is also reproduced in SIMD lanes (simd/exp.hpp); exp_variant says which of
// its two variants agrees with the library loaded in this process, if either does.
#pragma once

#include "simd/exp.hpp"
#include "simd/log_bracket.hpp"

namespace rc {

using LibraryFunction = double (*)(double);

// The C library's public function of this name ("exp", "log") as the process's dynamic linker
// resolves it, a preloaded replacement included, looked up at run time. A call written as
// exp(x) may bind to a copy from the toolchain's own runtime linked into the module (zig's
// compiler runtime brings one), whose bits differ from the library's.
LibraryFunction library_function(const char* name) noexcept;

struct LibmEntry {
    double (*exp)(double);
    double (*log)(double);
    // exp(x) is +0 for every x below this bound (the result rounds to zero), so a kernel may take
    // that zero without the call, whose underflow path is the slowest one. -inf when the library
    // does not give +0 at the bound, which disables the shortcut.
    double exp_zero_below;
    // exp(x) < 2^-54 for every x below this bound, so the term is too small to change a sum that
    // holds 1 or more: -38 (exp(-38) is 3.1e-17, 2^-54 is 5.6e-17, a margin far above the
    // library's error of about an ulp), or -inf when the library's exp(-38) is not below 2^-54.
    double exp_negligible_below;
    // The lane exp whose bits equal this library's exp on every probe argument (every table
    // entry, both special ranges, subnormal results, signed zeros, infinities, NaN and a few
    // thousand ordinary arguments), or library when neither does or RC_LIBM=public.
    simd::ExpVariant exp_variant;
    // Whether this library's log lies inside the lane bracket (simd/log_bracket.hpp) on every
    // probe argument (both ends and the centre of each subinterval, the neighbours of 1, a few
    // thousand ordinary sums), so that kernels may settle a result from the bracket without the
    // call; false when it does not or RC_LIBM=public.
    bool log_bracketed;

    // exp(x), without the call when the result is known to be +0.
    double exp_or_zero(double x) const noexcept { return x < exp_zero_below ? 0.0 : exp(x); }
};

// Resolved once per process, on first use; safe to call from any thread. The environment
// variable RC_LIBM=public selects the public entries and the library's exp for every lane.
const LibmEntry& libm_entry() noexcept;

}  // namespace rc
