// The vector operations the lane kernels need, for AVX-512 (F, DQ, VL, BW). Included only by the
// *_avx512.cpp files, inside their anonymous namespace, after <immintrin.h>.

struct Avx512 {
    using V = __m512d;
    using M = __mmask8;  // bit k for lane k
    static constexpr std::size_t lanes = 8;
    static V loadu(const double* p) { return _mm512_loadu_pd(p); }
    static void storeu(double* p, V v) { _mm512_storeu_pd(p, v); }
    static V broadcast(double x) { return _mm512_set1_pd(x); }
    static V add(V a, V b) { return _mm512_add_pd(a, b); }
    static V sub(V a, V b) { return _mm512_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm512_mul_pd(a, b); }
    static V div(V a, V b) { return _mm512_div_pd(a, b); }
    static M lt(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
    static M unordered(V a) { return _mm512_cmp_pd_mask(a, a, _CMP_UNORD_Q); }
    static M either(M a, M b) { return static_cast<M>(a | b); }
    static V blend(M m, V a, V b) { return _mm512_mask_blend_pd(m, b, a); }
    // Not (|a| < inf): true for infinities and NaN.
    static unsigned not_finite(V a) {
        return _mm512_cmp_pd_mask(_mm512_abs_pd(a), _mm512_set1_pd(__builtin_inf()), _CMP_NLT_UQ);
    }
    static V iota(double base) {
        return _mm512_add_pd(_mm512_set1_pd(base), _mm512_set_pd(7.0, 6.0, 5.0, 4.0, 3.0, 2.0, 1.0, 0.0));
    }
    // {carry[7], v[0], ..., v[6]}
    static V shift_in(V v, V carry) {
        return _mm512_permutex2var_pd(v, _mm512_set_epi64(6, 5, 4, 3, 2, 1, 0, 15), carry);
    }
    static double last_lane(V v) { return _mm_cvtsd_f64(_mm_unpackhi_pd(_mm512_extractf64x2_pd(v, 3), _mm512_extractf64x2_pd(v, 3))); }
    // The library's call results, one load per lane (see the kernels).
    static V gather(const double* p) {
        __m128d q0 = _mm_load_sd(p), q1 = _mm_load_sd(p + 2), q2 = _mm_load_sd(p + 4), q3 = _mm_load_sd(p + 6);
        asm("" : "+x"(q0), "+x"(q1), "+x"(q2), "+x"(q3));  // keeps the eight loads apart
        const __m256d low = _mm256_set_m128d(_mm_loadh_pd(q1, p + 3), _mm_loadh_pd(q0, p + 1));
        const __m256d high = _mm256_set_m128d(_mm_loadh_pd(q3, p + 7), _mm_loadh_pd(q2, p + 5));
        return _mm512_insertf64x4(_mm512_castpd256_pd512(low), high, 1);
    }
};
