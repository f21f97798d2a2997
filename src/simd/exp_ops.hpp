// The 64-bit integer lanes, bit casts, table gathers and fused multiply-add that the lane exp
// (simd/exp-inl.hpp) needs beyond the lane kernels' vocabulary, per instruction set. Included
// inside the instruction-set files' namespace after their Ops and <immintrin.h>.

#if defined(__AVX512F__)
struct ExpOps {
    using V = __m512d;
    using M = __mmask8;
    using I = __m512i;
    static constexpr std::size_t lanes = 8;
    static V loadu(const double* p) { return _mm512_loadu_pd(p); }
    static void storeu(double* p, V v) { _mm512_storeu_pd(p, v); }
    static V broadcast(double x) { return _mm512_set1_pd(x); }
    static V add(V a, V b) { return _mm512_add_pd(a, b); }
    static V sub(V a, V b) { return _mm512_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm512_mul_pd(a, b); }
    static V fma(V a, V b, V c) { return _mm512_fmadd_pd(a, b, c); }
    static M lt(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
    static M ge(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_GE_OQ); }
    static M unordered(V a) { return _mm512_cmp_pd_mask(a, a, _CMP_UNORD_Q); }
    static M either(M a, M b) { return static_cast<M>(a | b); }
    static V blend(M m, V a, V b) { return _mm512_mask_blend_pd(m, b, a); }
    static unsigned mask_bits(M m) { return m; }
    static I bits(V v) { return _mm512_castpd_si512(v); }
    static V from_bits(I i) { return _mm512_castsi512_pd(i); }
    static I broadcast_bits(std::uint64_t u) { return _mm512_set1_epi64(static_cast<long long>(u)); }
    static I add_bits(I a, I b) { return _mm512_add_epi64(a, b); }
    static I and_bits(I a, I b) { return _mm512_and_si512(a, b); }
    template <int N>
    static I shift_left(I i) { return _mm512_slli_epi64(i, N); }
    static I gather_bits(const std::uint64_t* table, I index) { return _mm512_i64gather_epi64(index, table, 8); }
};
#elif defined(__AVX2__)
struct ExpOps : Avx2 {
    using I = __m256i;
    static V fma(V a, V b, V c) { return _mm256_fmadd_pd(a, b, c); }
    static M ge(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
    static unsigned mask_bits(M m) { return static_cast<unsigned>(_mm256_movemask_pd(m)); }
    static I bits(V v) { return _mm256_castpd_si256(v); }
    static V from_bits(I i) { return _mm256_castsi256_pd(i); }
    static I broadcast_bits(std::uint64_t u) { return _mm256_set1_epi64x(static_cast<long long>(u)); }
    static I add_bits(I a, I b) { return _mm256_add_epi64(a, b); }
    static I and_bits(I a, I b) { return _mm256_and_si256(a, b); }
    template <int N>
    static I shift_left(I i) { return _mm256_slli_epi64(i, N); }
    static I gather_bits(const std::uint64_t* table, I index) {
        return _mm256_i64gather_epi64(reinterpret_cast<const long long*>(table), index, 8);
    }
};
#else
struct ExpOps : Sse2 {
    using I = __m128i;
    // The baseline has no fused multiply-add instruction: std::fma per lane (the library's,
    // correctly rounded on every machine).
    static V fma(V a, V b, V c) {
        alignas(16) double x[2], y[2], z[2];
        _mm_store_pd(x, a), _mm_store_pd(y, b), _mm_store_pd(z, c);
        return _mm_set_pd(std::fma(x[1], y[1], z[1]), std::fma(x[0], y[0], z[0]));
    }
    static M ge(V a, V b) { return _mm_cmpge_pd(a, b); }
    static unsigned mask_bits(M m) { return static_cast<unsigned>(_mm_movemask_pd(m)); }
    static I bits(V v) { return _mm_castpd_si128(v); }
    static V from_bits(I i) { return _mm_castsi128_pd(i); }
    static I broadcast_bits(std::uint64_t u) { return _mm_set1_epi64x(static_cast<long long>(u)); }
    static I add_bits(I a, I b) { return _mm_add_epi64(a, b); }
    static I and_bits(I a, I b) { return _mm_and_si128(a, b); }
    template <int N>
    static I shift_left(I i) { return _mm_slli_epi64(i, N); }
    static I gather_bits(const std::uint64_t* table, I index) {
        const auto low = static_cast<std::uint64_t>(_mm_cvtsi128_si64(index));
        const auto high = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(index, index)));
        return _mm_set_epi64x(static_cast<long long>(table[high]), static_cast<long long>(table[low]));
    }
};
#endif
