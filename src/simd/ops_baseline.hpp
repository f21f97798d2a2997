// Vector operations of the x86-64 baseline (SSE2): two doubles per vector. Included only by the
// target files, inside the target's namespace, after <emmintrin.h> (no include guard).

struct Baseline {
    using V = __m128d;
    using M = __m128d;  // all-ones lanes for true
    static constexpr std::size_t lanes = 2;
    static V loadu(const double* p) { return _mm_loadu_pd(p); }
    static void storeu(double* p, V v) { _mm_storeu_pd(p, v); }
    static V broadcast(double x) { return _mm_set1_pd(x); }
    static V add(V a, V b) { return _mm_add_pd(a, b); }
    static V sub(V a, V b) { return _mm_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm_mul_pd(a, b); }
    static V div(V a, V b) { return _mm_div_pd(a, b); }
    static V sqrt(V a) { return _mm_sqrt_pd(a); }
    static V abs(V a) { return _mm_andnot_pd(_mm_set1_pd(-0.0), a); }
    static V neg(V a) { return _mm_xor_pd(_mm_set1_pd(-0.0), a); }
    // minpd returns its second operand unless the first is less: a < b ? a : b.
    static V min(V a, V b) { return _mm_min_pd(a, b); }
    static V min_ignoring_nan(V a, V b) { return blend(unordered(b), a, _mm_min_pd(a, b)); }
    static M lt(V a, V b) { return _mm_cmplt_pd(a, b); }
    static M le(V a, V b) { return _mm_cmple_pd(a, b); }
    static M eq(V a, V b) { return _mm_cmpeq_pd(a, b); }
    static M unordered(V a) { return _mm_cmpunord_pd(a, a); }
    static M either(M a, M b) { return _mm_or_pd(a, b); }
    static M both(M a, M b) { return _mm_and_pd(a, b); }
    static V blend(M m, V a, V b) { return _mm_or_pd(_mm_and_pd(m, a), _mm_andnot_pd(m, b)); }
    static unsigned mask_bits(M m) { return static_cast<unsigned>(_mm_movemask_pd(m)); }
    static bool any(M m) { return mask_bits(m) != 0; }
    // Not (|a| < inf): true for infinities and NaN.
    static unsigned not_finite(V a) {
        const V magnitude = _mm_andnot_pd(_mm_set1_pd(-0.0), a);
        return static_cast<unsigned>(_mm_movemask_pd(_mm_cmpnlt_pd(magnitude, _mm_set1_pd(__builtin_inf()))));
    }
    static V iota(double base) { return _mm_set_pd(base + 1.0, base); }
    // {carry[1], v[0]}
    static V shift_in(V v, V carry) { return _mm_shuffle_pd(carry, v, 0b01); }
    static double last_lane(V v) { return _mm_cvtsd_f64(_mm_unpackhi_pd(v, v)); }
    // p[0..lanes) with one load per lane: a vector load spanning values just stored one at a time
    // could not be forwarded from those stores.
    static V gather(const double* p) {
        V low = _mm_load_sd(p);
        asm("" : "+x"(low));  // keeps the two loads apart
        return _mm_loadh_pd(low, p + 1);
    }
};
