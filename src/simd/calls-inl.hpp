// The C library calls as the kernels make them, defined in each target's namespace so that no
// inline function shared with baseline code is compiled for a wider instruction set. Included
// only by the target files (no include guard, no includes).

// exp(x), without the call when the result is known to be +0 (see LibmEntry::exp_zero_below).
inline double exp_or_zero(const rc::LibmEntry& libm, double x) { return x < libm.exp_zero_below ? 0.0 : libm.exp(x); }
