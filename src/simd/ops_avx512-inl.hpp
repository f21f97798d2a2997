// Vector operations for AVX-512 (F, DQ, VL, BW): eight doubles per vector, comparisons giving
// mask registers. Included by the AVX-512 ops file inside its namespace, after <immintrin.h>
// (no include guard).

struct Avx512 {
    using V = __m512d;
    using M = __mmask8;  // bit k set for true in lane k
    static constexpr std::size_t lanes = 8;
    static constexpr unsigned registers = 32;
    static constexpr bool native_fma = true;
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
    // vmaxpd likewise: a > b ? a : b.
    static V max(V a, V b) { return _mm512_max_pd(a, b); }
    static M lt(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
    static M le(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_LE_OQ); }
    static M eq(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ); }
    static M unordered(V a) { return _mm512_cmp_pd_mask(a, a, _CMP_UNORD_Q); }
    static M either(M a, M b) { return static_cast<M>(a | b); }
    static M both(M a, M b) { return static_cast<M>(a & b); }
    static V blend(M m, V a, V b) { return _mm512_mask_blend_pd(m, b, a); }
    static unsigned mask_bits(M m) { return m; }
    static bool any(M m) { return m != 0; }
    // 64-bit integer lanes, bit casts, fused multiply-add.
    using I = __m512i;
    static V fma(V a, V b, V c) { return _mm512_fmadd_pd(a, b, c); }
    static M ge(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_GE_OQ); }
    static M not_lt(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_NLT_UQ); }
    static I bits(V v) { return _mm512_castpd_si512(v); }
    static V from_bits(I i) { return _mm512_castsi512_pd(i); }
    static I broadcast_bits(std::uint64_t u) { return _mm512_set1_epi64(static_cast<long long>(u)); }
    static I add_bits(I a, I b) { return _mm512_add_epi64(a, b); }
    static I and_bits(I a, I b) { return _mm512_and_si512(a, b); }
    static I or_bits(I a, I b) { return _mm512_or_si512(a, b); }
    template <int N>
    static I shift_left(I i) { return _mm512_slli_epi64(i, N); }
    template <int N>
    static I shift_right(I i) { return _mm512_srli_epi64(i, N); }
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
    // Not (|a| < inf): true for infinities and NaN.
    static unsigned not_finite(V a) { return not_lt(abs(a), broadcast(__builtin_inf())); }
    static V iota(double base) {
        return _mm512_add_pd(_mm512_set1_pd(base), _mm512_set_pd(7.0, 6.0, 5.0, 4.0, 3.0, 2.0, 1.0, 0.0));
    }
    // {carry[7], v[0], ..., v[6]}
    static V shift_in(V v, V carry) {
        return _mm512_permutex2var_pd(v, _mm512_set_epi64(6, 5, 4, 3, 2, 1, 0, 15), carry);
    }
    static double first_lane(V v) { return _mm512_cvtsd_f64(v); }
    static double last_lane(V v) {
        const __m128d high = _mm512_extractf64x2_pd(v, 3);
        return _mm_cvtsd_f64(_mm_unpackhi_pd(high, high));
    }
    // p[0..lanes) with one load per lane (see Baseline::gather).
    static V gather(const double* p) {
        __m128d q0 = _mm_load_sd(p), q1 = _mm_load_sd(p + 2), q2 = _mm_load_sd(p + 4), q3 = _mm_load_sd(p + 6);
        asm("" : "+x"(q0), "+x"(q1), "+x"(q2), "+x"(q3));  // keeps the eight loads apart
        const __m256d low = _mm256_set_m128d(_mm_loadh_pd(q1, p + 3), _mm_loadh_pd(q0, p + 1));
        const __m256d high = _mm256_set_m128d(_mm_loadh_pd(q3, p + 7), _mm_loadh_pd(q2, p + 5));
        return _mm512_insertf64x4(_mm512_castpd256_pd512(low), high, 1);
    }
    // Lane k from base + offsets[k] bytes; offsets from byte_offsets(first, step) = first + k * step.
    using Offsets = __m512i;
    static Offsets byte_offsets(std::int64_t first, std::int64_t step) {
        return _mm512_add_epi64(_mm512_set1_epi64(first),
                                _mm512_mullo_epi64(_mm512_set1_epi64(step), _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0)));
    }
    static V gather_bytes(const double* base, Offsets offsets) { return _mm512_i64gather_pd(offsets, base, 1); }
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

// Integer lanes (ops_integer-inl.hpp) whose masks reduce to a bit per lane in one instruction
// (vpmovw2m, vpmovd2m) instead of word by word through memory: the scans test a block of
// members per call.
template <class S, std::size_t Bytes>
struct Avx512IntegerLanes : IntegerLanes<S, Bytes> {
    static_assert(Bytes == 16 || Bytes == 32 || Bytes == 64);
    using V = typename IntegerLanes<S, Bytes>::V;
    static constexpr std::uint64_t kEveryLane = ~std::uint64_t{0} >> (64 - Bytes / sizeof(S));
    static std::uint64_t bits(V mask) {
        if constexpr (Bytes == 64) {
            const __m512i v = std::bit_cast<__m512i>(mask);
            if constexpr (sizeof(S) == 4) return _mm512_movepi32_mask(v);
            else return _mm512_movepi16_mask(v);
        } else if constexpr (Bytes == 32) {
            const __m256i v = std::bit_cast<__m256i>(mask);
            if constexpr (sizeof(S) == 4) return _mm256_movepi32_mask(v);
            else return _mm256_movepi16_mask(v);
        } else {
            const __m128i v = std::bit_cast<__m128i>(mask);
            if constexpr (sizeof(S) == 4) return _mm_movepi32_mask(v);
            else return _mm_movepi16_mask(v);
        }
    }
    static bool all(V mask) { return bits(mask) == kEveryLane; }
    static bool any(V mask) { return bits(mask) != 0; }
};
