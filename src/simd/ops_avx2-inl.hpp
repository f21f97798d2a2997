// Vector operations for AVX2 with FMA: four doubles per vector. Included by the ops files of the
// targets that use them (AVX2, and AVX-512 for its narrower kernels) inside the target's
// namespace, after <immintrin.h> (no include guard).

struct Avx2 {
    using V = __m256d;
    using M = __m256d;  // all-ones lanes for true
    static constexpr std::size_t lanes = 4;
    static constexpr unsigned registers = 16;
    static constexpr bool native_fma = true;
    static V loadu(const double* p) { return _mm256_loadu_pd(p); }
    static void storeu(double* p, V v) { _mm256_storeu_pd(p, v); }
    static V broadcast(double x) { return _mm256_set1_pd(x); }
    static V add(V a, V b) { return _mm256_add_pd(a, b); }
    static V sub(V a, V b) { return _mm256_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
    static V div(V a, V b) { return _mm256_div_pd(a, b); }
    static V sqrt(V a) { return _mm256_sqrt_pd(a); }
    static V abs(V a) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), a); }
    static V neg(V a) { return _mm256_xor_pd(_mm256_set1_pd(-0.0), a); }
    // vminpd returns its second operand unless the first is less: a < b ? a : b.
    static V min(V a, V b) { return _mm256_min_pd(a, b); }
    static V min_ignoring_nan(V a, V b) { return _mm256_blendv_pd(_mm256_min_pd(a, b), a, unordered(b)); }
    // vmaxpd likewise: a > b ? a : b.
    static V max(V a, V b) { return _mm256_max_pd(a, b); }
    static M lt(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
    static M le(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LE_OQ); }
    static M eq(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
    static M unordered(V a) { return _mm256_cmp_pd(a, a, _CMP_UNORD_Q); }
    static M either(M a, M b) { return _mm256_or_pd(a, b); }
    static M both(M a, M b) { return _mm256_and_pd(a, b); }
    static V blend(M m, V a, V b) { return _mm256_blendv_pd(b, a, m); }
    static unsigned mask_bits(M m) { return static_cast<unsigned>(_mm256_movemask_pd(m)); }
    static bool any(M m) { return mask_bits(m) != 0; }
    // 64-bit integer lanes, bit casts, fused multiply-add.
    using I = __m256i;
    static V fma(V a, V b, V c) { return _mm256_fmadd_pd(a, b, c); }
    static M ge(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
    static M not_lt(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_NLT_UQ); }
    static I bits(V v) { return _mm256_castpd_si256(v); }
    static V from_bits(I i) { return _mm256_castsi256_pd(i); }
    static I broadcast_bits(std::uint64_t u) { return _mm256_set1_epi64x(static_cast<long long>(u)); }
    static I add_bits(I a, I b) { return _mm256_add_epi64(a, b); }
    static I and_bits(I a, I b) { return _mm256_and_si256(a, b); }
    static I or_bits(I a, I b) { return _mm256_or_si256(a, b); }
    template <int N>
    static I shift_left(I i) { return _mm256_slli_epi64(i, N); }
    template <int N>
    static I shift_right(I i) { return _mm256_srli_epi64(i, N); }
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
    static double first_lane(V v) { return _mm256_cvtsd_f64(v); }
    static double last_lane(V v) {
        const __m128d high = _mm256_extractf128_pd(v, 1);
        return _mm_cvtsd_f64(_mm_unpackhi_pd(high, high));
    }
    // p[0..lanes) with one load per lane (see Baseline::gather).
    static V gather(const double* p) {
        __m128d low = _mm_load_sd(p), high = _mm_load_sd(p + 2);
        asm("" : "+x"(low), "+x"(high));  // keeps the four loads apart
        return _mm256_set_m128d(_mm_loadh_pd(high, p + 3), _mm_loadh_pd(low, p + 1));
    }
    // Four consecutive doubles of each of the four rows, transposed: out[u] lane k = rows[k][u].
    static void load_transposed(const double* const* rows, V (&out)[4]) {
        const V a0 = loadu(rows[0]), a1 = loadu(rows[1]), a2 = loadu(rows[2]), a3 = loadu(rows[3]);
        const V lo01 = _mm256_unpacklo_pd(a0, a1), hi01 = _mm256_unpackhi_pd(a0, a1);
        const V lo23 = _mm256_unpacklo_pd(a2, a3), hi23 = _mm256_unpackhi_pd(a2, a3);
        out[0] = _mm256_permute2f128_pd(lo01, lo23, 0x20);
        out[1] = _mm256_permute2f128_pd(hi01, hi23, 0x20);
        out[2] = _mm256_permute2f128_pd(lo01, lo23, 0x31);
        out[3] = _mm256_permute2f128_pd(hi01, hi23, 0x31);
    }
    // Lane k from base + offsets[k] bytes; offsets from byte_offsets(first, step) = first + k * step.
    using Offsets = __m256i;
    static Offsets byte_offsets(std::int64_t first, std::int64_t step) {
        return _mm256_setr_epi64x(first, first + step, first + 2 * step, first + 3 * step);
    }
    static V gather_bytes(const double* base, Offsets offsets) { return _mm256_i64gather_pd(base, offsets, 1); }
};

// Integer lanes (ops_integer-inl.hpp) whose masks reduce by vpmovmskb instead of word by word
// through memory: the scans test a block of members per call. 16-byte masks reduce as SSE2's do
// (ops_sse2-inl.hpp, included before this file).
template <class S, std::size_t Bytes>
struct Avx2WideIntegerLanes : IntegerLanes<S, Bytes> {
    static_assert(Bytes == 32);
    using V = typename IntegerLanes<S, Bytes>::V;
    // One bit per byte of the mask.
    static std::uint32_t byte_bits(V mask) {
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(std::bit_cast<__m256i>(mask)));
    }
    static bool all(V mask) { return byte_bits(mask) == 0xffffffffu; }
    static bool any(V mask) { return byte_bits(mask) != 0; }
    static std::uint64_t bits(V mask) {
        const __m256i v = std::bit_cast<__m256i>(mask);
        if constexpr (sizeof(S) == 4) return static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(v)));
        // Packing within each half leaves lanes 0-7 in bytes 0-7 and lanes 8-15 in bytes 16-23.
        const auto packed = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_packs_epi16(v, v)));
        return (packed & 0xffu) | (packed >> 8 & 0xff00u);
    }
};

template <class S, std::size_t Bytes>
using Avx2IntegerLanes =
    std::conditional_t<Bytes == 16, Sse2IntegerLanes<S, Bytes>, Avx2WideIntegerLanes<S, Bytes>>;
