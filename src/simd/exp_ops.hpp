// The 64-bit integer lanes, bit casts, table look-ups and fused multiply-add that the lane exp
// (simd/exp-inl.hpp) needs beyond the lane kernels' vocabulary, per instruction set. Included
// inside the instruction-set files' namespace after their Ops and <immintrin.h>.

#if defined(__AVX512F__)
struct ExpOps : Avx512 {
    using I = __m512i;
    static V fma(V a, V b, V c) { return _mm512_fmadd_pd(a, b, c); }
    static M ge(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_GE_OQ); }
    static M not_lt(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_NLT_UQ); }
    static unsigned mask_bits(M m) { return m; }
    static I bits(V v) { return _mm512_castpd_si512(v); }
    static V from_bits(I i) { return _mm512_castsi512_pd(i); }
    static I broadcast_bits(std::uint64_t u) { return _mm512_set1_epi64(static_cast<long long>(u)); }
    static I add_bits(I a, I b) { return _mm512_add_epi64(a, b); }
    static I and_bits(I a, I b) { return _mm512_and_si512(a, b); }
    template <int N>
    static I shift_left(I i) { return _mm512_slli_epi64(i, N); }
    // {table[i[k]]} and {table[i[k] + 1]}: one 16-byte load per lane, cheaper than two gathers.
    static void gather_pairs(const std::uint64_t* table, I index, I& even, I& odd) {
        alignas(64) std::uint64_t offsets[8];
        _mm512_store_si512(offsets, index);
        auto pair = [&](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + offsets[k])); };
        const __m256i low02 = _mm256_inserti128_si256(_mm256_castsi128_si256(pair(0)), pair(2), 1);
        const __m256i low13 = _mm256_inserti128_si256(_mm256_castsi128_si256(pair(1)), pair(3), 1);
        const __m256i high46 = _mm256_inserti128_si256(_mm256_castsi128_si256(pair(4)), pair(6), 1);
        const __m256i high57 = _mm256_inserti128_si256(_mm256_castsi128_si256(pair(5)), pair(7), 1);
        const I a = _mm512_inserti64x4(_mm512_castsi256_si512(low02), high46, 1);  // pairs 0 2 4 6
        const I b = _mm512_inserti64x4(_mm512_castsi256_si512(low13), high57, 1);  // pairs 1 3 5 7
        even = _mm512_unpacklo_epi64(a, b);
        odd = _mm512_unpackhi_epi64(a, b);
    }
};
#elif defined(__AVX2__)
struct ExpOps : Avx2 {
    using I = __m256i;
    static V fma(V a, V b, V c) { return _mm256_fmadd_pd(a, b, c); }
    static M ge(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
    static M not_lt(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_NLT_UQ); }
    static unsigned mask_bits(M m) { return static_cast<unsigned>(_mm256_movemask_pd(m)); }
    static I bits(V v) { return _mm256_castpd_si256(v); }
    static V from_bits(I i) { return _mm256_castsi256_pd(i); }
    static I broadcast_bits(std::uint64_t u) { return _mm256_set1_epi64x(static_cast<long long>(u)); }
    static I add_bits(I a, I b) { return _mm256_add_epi64(a, b); }
    static I and_bits(I a, I b) { return _mm256_and_si256(a, b); }
    template <int N>
    static I shift_left(I i) { return _mm256_slli_epi64(i, N); }
    // {table[i[k]]} and {table[i[k] + 1]}: one 16-byte load per lane, cheaper than two gathers.
    static void gather_pairs(const std::uint64_t* table, I index, I& even, I& odd) {
        alignas(32) std::uint64_t offsets[4];
        _mm256_store_si256(reinterpret_cast<__m256i*>(offsets), index);
        auto pair = [&](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + offsets[k])); };
        const I a = _mm256_inserti128_si256(_mm256_castsi128_si256(pair(0)), pair(2), 1);  // pairs 0 2
        const I b = _mm256_inserti128_si256(_mm256_castsi128_si256(pair(1)), pair(3), 1);  // pairs 1 3
        even = _mm256_unpacklo_epi64(a, b);
        odd = _mm256_unpackhi_epi64(a, b);
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
    static M not_lt(V a, V b) { return _mm_cmpnlt_pd(a, b); }
    static unsigned mask_bits(M m) { return static_cast<unsigned>(_mm_movemask_pd(m)); }
    static I bits(V v) { return _mm_castpd_si128(v); }
    static V from_bits(I i) { return _mm_castsi128_pd(i); }
    static I broadcast_bits(std::uint64_t u) { return _mm_set1_epi64x(static_cast<long long>(u)); }
    static I add_bits(I a, I b) { return _mm_add_epi64(a, b); }
    static I and_bits(I a, I b) { return _mm_and_si128(a, b); }
    template <int N>
    static I shift_left(I i) { return _mm_slli_epi64(i, N); }
    // {table[i[k]]} and {table[i[k] + 1]}: one 16-byte load per lane.
    static void gather_pairs(const std::uint64_t* table, I index, I& even, I& odd) {
        const auto low = static_cast<std::uint64_t>(_mm_cvtsi128_si64(index));
        const auto high = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(index, index)));
        const I a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + low));
        const I b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + high));
        even = _mm_unpacklo_epi64(a, b);
        odd = _mm_unpackhi_epi64(a, b);
    }
};
#endif
