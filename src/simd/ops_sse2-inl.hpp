// Vector operations of the x86-64 baseline (SSE2): two doubles per vector. Included by the
// baseline's ops file inside its namespace, after <emmintrin.h> (no include guard).

struct Sse2 {
    using V = __m128d;
    using M = __m128d;  // all-ones lanes for true
    static constexpr std::size_t lanes = 2;
    static constexpr unsigned registers = 16;
    static constexpr bool native_fma = false;  // fma is std::fma per lane, a library call
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
    // maxpd likewise: a > b ? a : b.
    static V max(V a, V b) { return _mm_max_pd(a, b); }
    static M lt(V a, V b) { return _mm_cmplt_pd(a, b); }
    static M le(V a, V b) { return _mm_cmple_pd(a, b); }
    static M eq(V a, V b) { return _mm_cmpeq_pd(a, b); }
    static M unordered(V a) { return _mm_cmpunord_pd(a, a); }
    static M either(M a, M b) { return _mm_or_pd(a, b); }
    static M both(M a, M b) { return _mm_and_pd(a, b); }
    static V blend(M m, V a, V b) { return _mm_or_pd(_mm_and_pd(m, a), _mm_andnot_pd(m, b)); }
    static unsigned mask_bits(M m) { return static_cast<unsigned>(_mm_movemask_pd(m)); }
    static bool any(M m) { return mask_bits(m) != 0; }
    // 64-bit integer lanes, bit casts, fused multiply-add. The baseline has no fused multiply-add
    // instruction: std::fma per lane (the library's, correctly rounded on every machine, but a
    // call).
    using I = __m128i;
    static V fma(V a, V b, V c) {
        alignas(16) double x[2], y[2], z[2];
        _mm_store_pd(x, a), _mm_store_pd(y, b), _mm_store_pd(z, c);
        return _mm_set_pd(std::fma(x[1], y[1], z[1]), std::fma(x[0], y[0], z[0]));
    }
    static M ge(V a, V b) { return _mm_cmpge_pd(a, b); }
    static M not_lt(V a, V b) { return _mm_cmpnlt_pd(a, b); }
    static I bits(V v) { return _mm_castpd_si128(v); }
    static V from_bits(I i) { return _mm_castsi128_pd(i); }
    static I broadcast_bits(std::uint64_t u) { return _mm_set1_epi64x(static_cast<long long>(u)); }
    static I add_bits(I a, I b) { return _mm_add_epi64(a, b); }
    static I and_bits(I a, I b) { return _mm_and_si128(a, b); }
    static I or_bits(I a, I b) { return _mm_or_si128(a, b); }
    template <int N>
    static I shift_left(I i) { return _mm_slli_epi64(i, N); }
    template <int N>
    static I shift_right(I i) { return _mm_srli_epi64(i, N); }
    // {table[i[k]]} and {table[i[k] + 1]}: one 16-byte load per lane.
    static void gather_pairs(const std::uint64_t* table, I index, I& even, I& odd) {
        const auto low = static_cast<std::uint64_t>(_mm_cvtsi128_si64(index));
        const auto high = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(index, index)));
        const I a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + low));
        const I b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + high));
        even = _mm_unpacklo_epi64(a, b);
        odd = _mm_unpackhi_epi64(a, b);
    }
    // Not (|a| < inf): true for infinities and NaN.
    static unsigned not_finite(V a) {
        const V magnitude = _mm_andnot_pd(_mm_set1_pd(-0.0), a);
        return static_cast<unsigned>(_mm_movemask_pd(_mm_cmpnlt_pd(magnitude, _mm_set1_pd(__builtin_inf()))));
    }
    static V iota(double base) { return _mm_set_pd(base + 1.0, base); }
    // {carry[1], v[0]}
    static V shift_in(V v, V carry) { return _mm_shuffle_pd(carry, v, 0b01); }
    static double first_lane(V v) { return _mm_cvtsd_f64(v); }
    static double last_lane(V v) { return _mm_cvtsd_f64(_mm_unpackhi_pd(v, v)); }
    // p[0..lanes) with one load per lane: a vector load spanning values just stored one at a time
    // could not be forwarded from those stores.
    static V gather(const double* p) {
        V low = _mm_load_sd(p);
        asm("" : "+x"(low));  // keeps the two loads apart
        return _mm_loadh_pd(low, p + 1);
    }
    // Four consecutive doubles of each of the two rows, transposed: out[u] lane k = rows[k][u].
    static void load_transposed(const double* const* rows, V (&out)[4]) {
        for (int u = 0; u < 4; u += 2) {
            const V a = loadu(rows[0] + u), b = loadu(rows[1] + u);
            out[u] = _mm_unpacklo_pd(a, b);
            out[u + 1] = _mm_unpackhi_pd(a, b);
        }
    }
    // Lane k from base + offsets[k] bytes; offsets from byte_offsets(first, step) = first + k * step.
    // SSE2 has no gather: two loads.
    using Offsets = __m128i;
    static Offsets byte_offsets(std::int64_t first, std::int64_t step) { return _mm_set_epi64x(first + step, first); }
    static V gather_bytes(const double* base, Offsets offsets) {
        const auto* bytes = reinterpret_cast<const char*>(base);
        // Not _mm_load_sd, which dereferences a double pointer: series may sit at any address.
        const V low = _mm_set_sd(Scalar::loadu(reinterpret_cast<const double*>(bytes + _mm_cvtsi128_si64(offsets))));
        return _mm_loadh_pd(low, reinterpret_cast<const double*>(bytes + _mm_cvtsi128_si64(_mm_unpackhi_epi64(offsets, offsets))));
    }
};

// Integer lanes (ops_integer-inl.hpp) whose masks reduce by pmovmskb instead of word by word
// through memory: the scans test a block of members per call.
template <class S, std::size_t Bytes>
struct Sse2IntegerLanes : IntegerLanes<S, Bytes> {
    static_assert(Bytes == 16);
    using V = typename IntegerLanes<S, Bytes>::V;
    static bool all(V mask) { return _mm_movemask_epi8(std::bit_cast<__m128i>(mask)) == 0xffff; }
    static bool any(V mask) { return _mm_movemask_epi8(std::bit_cast<__m128i>(mask)) != 0; }
    static std::uint64_t bits(V mask) {
        const __m128i v = std::bit_cast<__m128i>(mask);
        if constexpr (sizeof(S) == 4)
            return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(v)));
        else
            return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(v, v))) & 0xffu;
    }
};
