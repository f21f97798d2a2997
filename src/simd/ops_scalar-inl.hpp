// One-lane operations in the vocabulary of the vector ops structs, so that the scalar paths are
// instantiations of the same kernel templates. Included by every target's ops file inside the
// target's namespace (no include guard), so that each target's scalar code is its own. On x86-64
// a comparison keeps its outcome in a vector register so that selections compile without
// branches: which neighbour wins follows the data, and a mispredicted branch would discard the
// library calls of the cells in flight.

struct Scalar {
    using V = double;
    using I = std::uint64_t;
    using Offsets = std::int64_t;
    static constexpr std::size_t lanes = 1;
#if defined(__aarch64__)
    static constexpr unsigned registers = 32;
#else
    static constexpr unsigned registers = 16;
#endif
#if defined(__FP_FAST_FMA)
    static constexpr bool native_fma = true;
#else
    static constexpr bool native_fma = false;  // std::fma is a library call here
#endif
    // Series may sit at any byte address (unaligned NumPy views): a plain double load there is
    // undefined, a byte copy is the same single load.
    static V loadu(const double* p) {
        double value;
        std::memcpy(&value, p, sizeof value);
        return value;
    }
    static void storeu(double* p, V v) { *p = v; }
    static V broadcast(double x) { return x; }
    static V gather(const double* p) { return loadu(p); }
    static V iota(double base) { return base; }
    // The one lane comes from the carry.
    static V shift_in(V, V carry) { return carry; }
    static double first_lane(V v) { return v; }
    static double last_lane(V v) { return v; }
    static void load_transposed(const double* const* rows, V (&out)[4]) {
        for (int u = 0; u < 4; ++u) out[u] = loadu(rows[0] + u);
    }
    static Offsets byte_offsets(std::int64_t first, std::int64_t) { return first; }
    static V gather_bytes(const double* base, Offsets offset) {
        double value;
        std::memcpy(&value, reinterpret_cast<const std::byte*>(base) + offset, sizeof value);
        return value;
    }
    static V add(V a, V b) { return a + b; }
    static V sub(V a, V b) { return a - b; }
    static V mul(V a, V b) { return a * b; }
    static V div(V a, V b) { return a / b; }
    static V fma(V a, V b, V c) { return std::fma(a, b, c); }
    static V sqrt(V a) { return __builtin_sqrt(a); }
    static V abs(V a) { return __builtin_fabs(a); }
    static V neg(V a) { return -a; }
    static V min(V a, V b) { return a < b ? a : b; }
    static V min_ignoring_nan(V a, V b) { return b != b ? a : (a < b ? a : b); }
    static V max(V a, V b) { return a > b ? a : b; }
#if defined(__SSE2__)
    using M = __m128d;  // all ones in the low lane for true
    static M lt(V a, V b) { return _mm_cmplt_sd(_mm_set_sd(a), _mm_set_sd(b)); }
    static M le(V a, V b) { return _mm_cmple_sd(_mm_set_sd(a), _mm_set_sd(b)); }
    static M ge(V a, V b) { return _mm_cmpge_sd(_mm_set_sd(a), _mm_set_sd(b)); }
    static M eq(V a, V b) { return _mm_cmpeq_sd(_mm_set_sd(a), _mm_set_sd(b)); }
    static M not_lt(V a, V b) { return _mm_cmpnlt_sd(_mm_set_sd(a), _mm_set_sd(b)); }
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
    static M ge(V a, V b) { return a >= b; }
    static M eq(V a, V b) { return a == b; }
    static M not_lt(V a, V b) { return !(a < b); }
    static M unordered(V a) { return a != a; }
    static M either(M a, M b) { return a | b; }
    static M both(M a, M b) { return a & b; }
    static V blend(M m, V a, V b) { return m ? a : b; }
    static unsigned mask_bits(M m) { return m ? 1u : 0u; }
#endif
    static bool any(M m) { return mask_bits(m) != 0; }
    // Not (|a| < inf): true for infinities and NaN.
    static unsigned not_finite(V a) { return !(__builtin_fabs(a) < __builtin_inf()); }
    static I bits(V v) { return std::bit_cast<I>(v); }
    static V from_bits(I i) { return std::bit_cast<V>(i); }
    static I broadcast_bits(std::uint64_t u) { return u; }
    static I add_bits(I a, I b) { return a + b; }
    static I and_bits(I a, I b) { return a & b; }
    static I or_bits(I a, I b) { return a | b; }
    template <int N>
    static I shift_left(I i) { return i << N; }
    template <int N>
    static I shift_right(I i) { return i >> N; }
    static void gather_pairs(const std::uint64_t* table, I index, I& even, I& odd) {
        even = table[index];
        odd = table[index + 1];
    }
};
