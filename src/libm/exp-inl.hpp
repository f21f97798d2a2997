// The C library's table-driven exp in SIMD lanes, bit for bit, for both of its variants.
// Included only by the target files, inside the target's namespace, after simd/exp_table.hpp and
// the ops structs (no include guard, no includes).
//
// Every lane performs the steps of exp_one below. Lanes with 2^-54 <= |x| < 512 (the
// regular range) take the vector path, where the only fused operations are the ones the
// variant has. The rest are mended after it, only when a vector holds any: |x| < 2^-54 and NaN
// give 1 + x, x < -746 gives +0, x >= 1024 gives +inf, all in lanes; what is left ([512, 1024)
// and [-746, -512], results that overflow or turn subnormal) goes through exp_one lane by lane.
//
// Besides the usual vector operations (V, M, lanes, loadu, storeu, broadcast, add, sub, mul, lt,
// blend, either, unordered), the exp needs from Ops:
//   I                      a vector of 64-bit integer lanes, as many as V has
//   fma(a, b, c)           a * b + c rounded once (per lane with std::fma where the target has none)
//   bits(v), from_bits(i)  the bit patterns of the doubles, and back
//   broadcast_bits(u)      u in every lane
//   add_bits, and_bits     64-bit lane-wise addition (modulo 2^64) and conjunction
//   shift_left<n>(i)       64-bit lane-wise shift left by a constant
//   gather_pairs(t, i, e, o)  e = {t[i[0]], t[i[1]], ...}, o = {t[i[0] + 1], ...}, t a table of
//                          64-bit words (one 16-byte load per lane beats two gathers)
//   mask_bits(m)           lane k true -> bit k set
//   ge(a, b), not_lt(a, b) a >= b; not a < b (true for NaN)

// a * b + c with one rounding (Fused) or two.
template <bool Fused>
inline double scalar_mul_add(double a, double b, double c) noexcept {
    if constexpr (Fused)
        return std::fma(a, b, c);
    else
        return a * b + c;
}

// The library's exp of x for the variant with fused multiply-adds (Fused) or without, one lane,
// every range: the steps the vector lanes follow, and the path of their rare special lanes.
// Compiled per target like everything here, so that no copy built with wider instructions can
// stand in for the baseline's.
template <bool Fused>
double exp_one(double x) noexcept {
    namespace d = rc::simd::exp_detail;
    const std::uint64_t ux = std::bit_cast<std::uint64_t>(x);
    const std::uint32_t abstop = static_cast<std::uint32_t>(ux >> 52) & 0x7ff;
    bool scaled = false;  // |x| in [512, 1024): the result may leave the normal range
    if (abstop - d::kTopTiny >= d::kTopLarge - d::kTopTiny) {
        if (abstop < d::kTopTiny) return 1.0 + x;
        if (abstop >= d::kTopHuge) {
            if (ux == std::bit_cast<std::uint64_t>(-std::numeric_limits<double>::infinity())) return 0.0;
            if (abstop >= 0x7ff) return 1.0 + x;
            return (ux >> 63) != 0 ? 0.0 : std::numeric_limits<double>::infinity();
        }
        scaled = true;
    }
    double kd = scalar_mul_add<Fused>(d::kInvLn2N, x, d::kShift);
    const std::uint64_t ki = std::bit_cast<std::uint64_t>(kd);
    kd -= d::kShift;
    const double r = Fused ? std::fma(kd, d::kNegLn2LoN, std::fma(kd, d::kNegLn2HiN, x))
                           : x + kd * d::kNegLn2HiN + kd * d::kNegLn2LoN;
    const std::uint64_t index = 2 * (ki % 128);
    const double tail = std::bit_cast<double>(d::kTable[index]);
    std::uint64_t sbits = d::kTable[index + 1] + (ki << 45);
    const double r2 = r * r;
    const double tmp = Fused ? std::fma(r2 * r2, std::fma(r, d::kC5, d::kC4), std::fma(r2, std::fma(r, d::kC3, d::kC2), tail + r))
                             : tail + r + r2 * (d::kC2 + r * d::kC3) + r2 * r2 * (d::kC4 + r * d::kC5);
    if (!scaled) {
        const double scale = std::bit_cast<double>(sbits);
        return scalar_mul_add<Fused>(scale, tmp, scale);
    }
    if ((ki & 0x80000000u) == 0) {
        // Large positive x: scale by 2^1009 after the sum, which may overflow to inf.
        sbits -= std::uint64_t{1009} << 52;
        const double scale = std::bit_cast<double>(sbits);
        return 0x1p1009 * scalar_mul_add<Fused>(scale, tmp, scale);
    }
    // Large negative x: the result may be subnormal. The sum is formed around 1 first so that
    // the final scaling rounds only once; this branch has no fused operation in either variant.
    sbits += std::uint64_t{1022} << 52;
    const double scale = std::bit_cast<double>(sbits);
    double y = scale + scale * tmp;
    if (y < 1.0) {
        double lo = scale - y + scale * tmp;
        const double hi = 1.0 + y;
        lo = 1.0 - hi + y + lo;
        y = hi + lo - 1.0;
        if (y == 0.0) y = 0.0;  // -0 becomes +0
    }
    return 0x1p-1022 * y;
}

template <class Ops, bool Fused>
struct ExactExp {
    using V = typename Ops::V;
    using M = typename Ops::M;
    using I = typename Ops::I;
    static constexpr std::size_t W = Ops::lanes;

    static V mul_add(V a, V b, V c) {
        if constexpr (Fused)
            return Ops::fma(a, b, c);
        else
            return Ops::add(Ops::mul(a, b), c);
    }

    // exp of every lane of x.
    static V compute(V x) {
        const V magnitude = magnitude_of(x);
        const unsigned special = special_lanes(magnitude);
        const V y = regular(x);
        if (special == 0) [[likely]]
            return y;
        return mend(x, y, magnitude, special);
    }

    // The vector path of the regular range, for every lane.
    [[gnu::always_inline]] static V regular(V x) {
        namespace d = rc::simd::exp_detail;
        V kd = mul_add(Ops::broadcast(d::kInvLn2N), x, Ops::broadcast(d::kShift));
        const I ki = Ops::bits(kd);
        kd = Ops::sub(kd, Ops::broadcast(d::kShift));
        const V r = Fused ? Ops::fma(kd, Ops::broadcast(d::kNegLn2LoN), Ops::fma(kd, Ops::broadcast(d::kNegLn2HiN), x))
                          : Ops::add(Ops::add(x, Ops::mul(kd, Ops::broadcast(d::kNegLn2HiN))),
                                     Ops::mul(kd, Ops::broadcast(d::kNegLn2LoN)));
        // Word 2j is the tail of 2^(j/128), word 2j + 1 its head minus j << 45.
        I tail_bits, head_bits;
        const I index = Ops::template shift_left<1>(Ops::and_bits(ki, Ops::broadcast_bits(127)));
        Ops::gather_pairs(d::kTable, index, tail_bits, head_bits);
        const V tail = Ops::from_bits(tail_bits);
        const I sbits = Ops::add_bits(head_bits, Ops::template shift_left<45>(ki));
        const V r2 = Ops::mul(r, r);
        V tmp;
        if constexpr (Fused) {
            const V low = Ops::fma(r2, Ops::fma(r, Ops::broadcast(d::kC3), Ops::broadcast(d::kC2)), Ops::add(tail, r));
            tmp = Ops::fma(Ops::mul(r2, r2), Ops::fma(r, Ops::broadcast(d::kC5), Ops::broadcast(d::kC4)), low);
        } else {
            const V low = Ops::add(Ops::add(tail, r),
                                   Ops::mul(r2, Ops::add(Ops::broadcast(d::kC2), Ops::mul(r, Ops::broadcast(d::kC3)))));
            tmp = Ops::add(low, Ops::mul(Ops::mul(r2, r2),
                                         Ops::add(Ops::broadcast(d::kC4), Ops::mul(r, Ops::broadcast(d::kC5)))));
        }
        const V scale = Ops::from_bits(sbits);
        return mul_add(scale, tmp, scale);
    }

    // exp of every lane of x as compute gives it, the special lanes settled inline, except the
    // lanes whose result may overflow or turn subnormal: those are flagged in `unsettled` (bit k
    // for lane k) and hold no result. With no call to make, a loop around this keeps its other
    // values in registers; it hands the rare flagged vector to compute.
    [[gnu::always_inline]] static V compute_settled(V x, unsigned& unsettled) {
        const V magnitude = magnitude_of(x);
        const unsigned special = special_lanes(magnitude);
        const V y = regular(x);
        unsettled = 0;
        if (special == 0) [[likely]]
            return y;
        return settle(x, y, magnitude, special, unsettled);
    }

    // exp of in[0..count) into out[0..count); in and out may be the same array.
    static void apply(const double* in, double* out, std::size_t count) {
        std::size_t k = 0;
        for (; k + W <= count; k += W) Ops::storeu(out + k, compute(Ops::loadu(in + k)));
        if (k < count) {
            alignas(64) double rest[W];
            for (std::size_t w = 0; w < W; ++w) rest[w] = k + w < count ? in[k + w] : 0.0;
            Ops::storeu(rest, compute(Ops::loadu(rest)));
            for (std::size_t w = 0; k + w < count; ++w) out[k + w] = rest[w];
        }
    }

private:
    static V magnitude_of(V x) {
        return Ops::from_bits(Ops::and_bits(Ops::bits(x), Ops::broadcast_bits(0x7fffffffffffffffu)));
    }

    // Step 1 as comparisons of |x|: both fail for NaN, which leaves the regular range too.
    static unsigned special_lanes(V magnitude) {
        namespace d = rc::simd::exp_detail;
        return Ops::mask_bits(Ops::either(Ops::lt(magnitude, Ops::broadcast(d::kTinyBound)),
                                          Ops::not_lt(magnitude, Ops::broadcast(d::kLargeBound))));
    }

    // The lanes outside the regular range.
    [[gnu::noinline]] static V mend(V x, V y, V magnitude, unsigned special) {
        unsigned scaled = 0;
        y = settle(x, y, magnitude, special, scaled);
        if (scaled == 0) return y;
        alignas(64) double xs[W], ys[W];
        Ops::storeu(xs, x);
        Ops::storeu(ys, y);
        for (std::size_t w = 0; w < W; ++w)
            if ((scaled >> w) & 1u) ys[w] = exp_one<Fused>(xs[w]);
        return Ops::loadu(ys);
    }

    // The special lanes settled by a rule (1 + x, +0, inf); those left for exp_one are flagged in
    // `scaled`.
    [[gnu::always_inline]] static V settle(V x, V y, V magnitude, unsigned special, unsigned& scaled) {
        namespace d = rc::simd::exp_detail;
        const M tiny = Ops::lt(magnitude, Ops::broadcast(d::kTinyBound)), unordered = Ops::unordered(x);
        const V inf = Ops::broadcast(__builtin_inf());
        const M zero = Ops::lt(x, Ops::broadcast(d::kZeroBelow));
        const M overflow = Ops::ge(x, Ops::broadcast(d::kHugeBound));
        y = Ops::blend(Ops::either(tiny, unordered), Ops::add(Ops::broadcast(1.0), x), y);
        y = Ops::blend(zero, Ops::broadcast(0.0), Ops::blend(overflow, inf, y));
        const unsigned settled = Ops::mask_bits(Ops::either(Ops::either(tiny, unordered), Ops::either(zero, overflow)));
        scaled = special & ~settled;
        return y;
    }
};

// The array entries of a target's table for its ops, or none where the ops have no integer lanes
// (a one-lane baseline off x86-64).
template <class Ops>
constexpr rc::simd::ExpArrays exp_arrays_of(const char* target) {
    if constexpr (requires { typename Ops::I; })
        return {target, ExactExp<Ops, true>::apply, ExactExp<Ops, false>::apply};
    else
        return {target, nullptr, nullptr};
}
