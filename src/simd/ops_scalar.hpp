// One-lane operations in the vocabulary of the vector ops structs, so that the scalar paths are
// instantiations of the same kernel templates. Included only by the target files, inside the
// target's namespace, like the other ops_*.hpp (no include guard, no includes). A comparison
// keeps its outcome in a vector register on x86-64 so that selections compile without branches:
// which neighbour wins follows the data, and a mispredicted branch would discard the library
// calls of the cells in flight.

struct Scalar {
    using V = double;
    static constexpr std::size_t lanes = 1;
    static V loadu(const double* p) { return *p; }
    static void storeu(double* p, V v) { *p = v; }
    static V broadcast(double x) { return x; }
    static V add(V a, V b) { return a + b; }
    static V sub(V a, V b) { return a - b; }
    static V mul(V a, V b) { return a * b; }
    static V div(V a, V b) { return a / b; }
    static V sqrt(V a) { return __builtin_sqrt(a); }
    static V abs(V a) { return __builtin_fabs(a); }
    static V neg(V a) { return -a; }
    static V min(V a, V b) { return a < b ? a : b; }
    static V min_ignoring_nan(V a, V b) { return b != b ? a : (a < b ? a : b); }
#if defined(__SSE2__)
    using M = __m128d;  // all ones in the low lane for true
    static M lt(V a, V b) { return _mm_cmplt_sd(_mm_set_sd(a), _mm_set_sd(b)); }
    static M le(V a, V b) { return _mm_cmple_sd(_mm_set_sd(a), _mm_set_sd(b)); }
    static M eq(V a, V b) { return _mm_cmpeq_sd(_mm_set_sd(a), _mm_set_sd(b)); }
    static M unordered(V a) { return _mm_cmpunord_sd(_mm_set_sd(a), _mm_set_sd(a)); }
    static M either(M a, M b) { return _mm_or_pd(a, b); }
    static M both(M a, M b) { return _mm_and_pd(a, b); }
    static V blend(M m, V a, V b) {
        return _mm_cvtsd_f64(_mm_or_pd(_mm_and_pd(m, _mm_set_sd(a)), _mm_andnot_pd(m, _mm_set_sd(b))));
    }
    static unsigned mask_bits(M m) { return static_cast<unsigned>(_mm_movemask_pd(m)) & 1u; }
#else
    using M = bool;
    static M lt(V a, V b) { return a < b; }
    static M le(V a, V b) { return a <= b; }
    static M eq(V a, V b) { return a == b; }
    static M unordered(V a) { return a != a; }
    static M either(M a, M b) { return a | b; }
    static M both(M a, M b) { return a & b; }
    static V blend(M m, V a, V b) { return m ? a : b; }
    static unsigned mask_bits(M m) { return m ? 1u : 0u; }
#endif
    // Not (|a| < inf): true for infinities and NaN.
    static unsigned not_finite(V a) { return !(__builtin_fabs(a) < __builtin_inf()); }
    static bool any(M m) { return mask_bits(m) != 0; }
    static V iota(double base) { return base; }
    // The one lane comes from the carry.
    static V shift_in(V, V carry) { return carry; }
    static double last_lane(V v) { return v; }
    static V gather(const double* p) { return *p; }
};
