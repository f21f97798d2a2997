// Vector operations for AVX-512 (F, DQ, VL, BW): eight doubles per vector, comparisons giving
// mask registers. Included only by the target files, inside the target's namespace, after
// <immintrin.h> (no include guard).

struct Avx512 {
    using V = __m512d;
    using M = __mmask8;  // bit k set for true in lane k
    static constexpr std::size_t lanes = 8;
    static V loadu(const double* p) { return _mm512_loadu_pd(p); }
    static void storeu(double* p, V v) { _mm512_storeu_pd(p, v); }
    static V broadcast(double x) { return _mm512_set1_pd(x); }
    static V add(V a, V b) { return _mm512_add_pd(a, b); }
    static V sub(V a, V b) { return _mm512_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm512_mul_pd(a, b); }
    static V div(V a, V b) { return _mm512_div_pd(a, b); }
    static V sqrt(V a) { return _mm512_sqrt_pd(a); }
    static V abs(V a) { return _mm512_andnot_pd(_mm512_set1_pd(-0.0), a); }
    static V neg(V a) { return _mm512_xor_pd(_mm512_set1_pd(-0.0), a); }
    // vminpd returns its second operand unless the first is less: a < b ? a : b.
    static V min(V a, V b) { return _mm512_min_pd(a, b); }
    static V min_ignoring_nan(V a, V b) { return _mm512_mask_blend_pd(unordered(b), _mm512_min_pd(a, b), a); }
    static M lt(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
    static M le(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_LE_OQ); }
    static M eq(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ); }
    static M unordered(V a) { return _mm512_cmp_pd_mask(a, a, _CMP_UNORD_Q); }
    static M either(M a, M b) { return static_cast<M>(a | b); }
    static M both(M a, M b) { return static_cast<M>(a & b); }
    static V blend(M m, V a, V b) { return _mm512_mask_blend_pd(m, b, a); }
    static unsigned mask_bits(M m) { return m; }
    static bool any(M m) { return m != 0; }
    // Four consecutive doubles of each of the eight rows, transposed: out[u] lane k = rows[k][u].
    static void load_transposed(const double* const* rows, V (&out)[4]) {
        __m256d low[4], high[4];
        transpose4(rows, low);
        transpose4(rows + 4, high);
        for (int u = 0; u < 4; ++u) out[u] = _mm512_insertf64x4(_mm512_castpd256_pd512(low[u]), high[u], 1);
    }

private:
    static void transpose4(const double* const* rows, __m256d (&out)[4]) {
        const __m256d a0 = _mm256_loadu_pd(rows[0]), a1 = _mm256_loadu_pd(rows[1]);
        const __m256d a2 = _mm256_loadu_pd(rows[2]), a3 = _mm256_loadu_pd(rows[3]);
        const __m256d lo01 = _mm256_unpacklo_pd(a0, a1), hi01 = _mm256_unpackhi_pd(a0, a1);
        const __m256d lo23 = _mm256_unpacklo_pd(a2, a3), hi23 = _mm256_unpackhi_pd(a2, a3);
        out[0] = _mm256_permute2f128_pd(lo01, lo23, 0x20);
        out[1] = _mm256_permute2f128_pd(hi01, hi23, 0x20);
        out[2] = _mm256_permute2f128_pd(lo01, lo23, 0x31);
        out[3] = _mm256_permute2f128_pd(hi01, hi23, 0x31);
    }
};
