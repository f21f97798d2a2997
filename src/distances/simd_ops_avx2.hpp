// The vector operations the lane kernels need, for AVX2. Included only by the
// *_avx2.cpp files, inside their anonymous namespace, after <immintrin.h>.

struct Avx2 {
    using V = __m256d;
    using M = __m256d;  // all-ones lanes for true
    static constexpr std::size_t lanes = 4;
    static V loadu(const double* p) { return _mm256_loadu_pd(p); }
    static void storeu(double* p, V v) { _mm256_storeu_pd(p, v); }
    static V broadcast(double x) { return _mm256_set1_pd(x); }
    static V add(V a, V b) { return _mm256_add_pd(a, b); }
    static V sub(V a, V b) { return _mm256_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
    static V div(V a, V b) { return _mm256_div_pd(a, b); }
    // vminpd returns its second operand unless the first is less: a < b ? a : b.
    static V min(V a, V b) { return _mm256_min_pd(a, b); }
    static V min_ignoring_nan(V a, V b) {
        return _mm256_blendv_pd(_mm256_min_pd(a, b), a, _mm256_cmp_pd(b, b, _CMP_UNORD_Q));
    }
    static M lt(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
    static M unordered(V a) { return _mm256_cmp_pd(a, a, _CMP_UNORD_Q); }
    static M either(M a, M b) { return _mm256_or_pd(a, b); }
    static V blend(M m, V a, V b) { return _mm256_blendv_pd(b, a, m); }
    // Not (|a| < inf): true for infinities and NaN.
    static unsigned not_finite(V a) {
        const V magnitude = _mm256_andnot_pd(_mm256_set1_pd(-0.0), a);
        return static_cast<unsigned>(
            _mm256_movemask_pd(_mm256_cmp_pd(magnitude, _mm256_set1_pd(__builtin_inf()), _CMP_NLT_UQ)));
    }
    static V iota(double base) { return _mm256_set_pd(base + 3.0, base + 2.0, base + 1.0, base); }
    // {carry[3], v[0], v[1], v[2]}: both rotated up one lane, lane 0 taken from the carry.
    static V shift_in(V v, V carry) {
        constexpr int rotate = _MM_SHUFFLE(2, 1, 0, 3);
        return _mm256_blend_pd(_mm256_permute4x64_pd(v, rotate), _mm256_permute4x64_pd(carry, rotate), 0b0001);
    }
    static double last_lane(V v) { return _mm_cvtsd_f64(_mm_unpackhi_pd(_mm256_extractf128_pd(v, 1), _mm256_extractf128_pd(v, 1))); }
    static V gather(const double* p) {
        __m128d low = _mm_load_sd(p), high = _mm_load_sd(p + 2);
        asm("" : "+x"(low), "+x"(high));  // keeps the four loads apart
        return _mm256_set_m128d(_mm_loadh_pd(high, p + 3), _mm_loadh_pd(low, p + 1));
    }
};
