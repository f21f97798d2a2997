// The C library's table-driven exp in SIMD lanes, bit for bit, for both of its variants, over any
// ops struct of simd/ops.hpp (one lane included). The library chooses its variant at load time:
// with fused multiply-adds where the processor has them (Fused), or without; libm/entries.cpp
// checks at first use which one the loaded library is.
//
// x = k ln2 / 128 + r, |r| <= ln2 / 256, and exp(x) = 2^(k / 128) (1 + (exp(r) - 1)): the power
// comes from a table of 2^(j / 128) and the exponent bits, exp(r) - 1 from a polynomial. Every
// lane performs the same steps. Lanes with 2^-54 <= |x| < 512 (the regular range) take them
// directly. The others are settled after, only when a vector holds any: |x| < 2^-54 and NaN give
// 1 + x, x < -746 gives +0 and x >= 1024 +inf; between those the result may overflow or turn
// subnormal, and the power of two is applied in two steps, around 1 for the subnormal results so
// that they round once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "libm/exp_table.hpp"

namespace rc::libm {

template <class Ops, bool Fused>
struct ExactExp {
    using V = typename Ops::V;
    using M = typename Ops::M;
    using I = typename Ops::I;
    static constexpr std::size_t W = Ops::lanes;

    // exp of every lane of x.
    [[gnu::always_inline]] static V compute(V x) {
        const Steps steps = regular(x);
        const V scale = Ops::from_bits(steps.scale_bits);
        const V y = mul_add(scale, steps.tmp, scale);
        if (!Ops::any(special_lanes(x))) [[likely]]
            return y;
        return settle(x, y);
    }

    // exp of every lane of `count` vectors (at most 64) in place, for callers that hold many at
    // once: the regular steps for all of them, then the settling of only the vectors that hold a
    // lane outside the regular range, whichever those are, without a branch per vector (where
    // such lanes come and go at random, one would be mispredicted half the time).
    static void compute_many(V* values, std::size_t count) {
        namespace d = exp_detail;
        std::uint64_t special_vectors = 0;
        alignas(64) V arguments[64];
        for (std::size_t k = 0; k < count; ++k) {
            const V x = values[k];
            arguments[k] = x;
            const Steps steps = regular(x);
            const V scale = Ops::from_bits(steps.scale_bits);
            values[k] = mul_add(scale, steps.tmp, scale);
            special_vectors |= std::uint64_t{Ops::mask_bits(special_lanes(x)) != 0} << k;
        }
        for (; special_vectors != 0; special_vectors &= special_vectors - 1) {
            const std::size_t k = static_cast<std::size_t>(__builtin_ctzll(special_vectors));
            values[k] = settle(arguments[k], values[k]);
        }
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
    // a * b + c with one rounding (Fused) or two.
    [[gnu::always_inline]] static V mul_add(V a, V b, V c) {
        if constexpr (Fused)
            return Ops::fma(a, b, c);
        else
            return Ops::add(Ops::mul(a, b), c);
    }

    // The power 2^(k / 128) as bits (exponent bits that overflow in the special ranges) and
    // exp(r) - 1 plus the table's tail.
    struct Steps {
        I scale_bits;
        V tmp;
    };

    [[gnu::always_inline]] static Steps regular(V x) {
        namespace d = exp_detail;
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
        const I scale_bits = Ops::add_bits(head_bits, Ops::template shift_left<45>(ki));
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
        return {scale_bits, tmp};
    }

    static V magnitude_of(V x) {
        return Ops::from_bits(Ops::and_bits(Ops::bits(x), Ops::broadcast_bits(0x7fffffffffffffffu)));
    }

    // Outside the regular range (both comparisons fail for NaN, which leaves it too).
    [[gnu::always_inline]] static M special_lanes(V x) {
        const V magnitude = magnitude_of(x);
        return Ops::either(Ops::lt(magnitude, Ops::broadcast(exp_detail::kTinyBound)),
                           Ops::not_lt(magnitude, Ops::broadcast(exp_detail::kLargeBound)));
    }

    // The lanes outside the regular range of a vector y = the regular steps' results: those whose
    // result may overflow or turn subnormal take the longer way; the others are settled by rule.
    [[gnu::noinline]] static V settle(V x, V y) {
        namespace d = exp_detail;
        const V magnitude = magnitude_of(x);
        const M scaled = Ops::both(Ops::both(Ops::ge(magnitude, Ops::broadcast(d::kLargeBound)),
                                             Ops::ge(x, Ops::broadcast(d::kZeroBelow))),
                                   Ops::lt(x, Ops::broadcast(d::kHugeBound)));
        const V settled = Ops::any(scaled) ? scale_apart(x, regular(x)) : y;
        return Ops::blend(special_lanes(x), by_rule(x, magnitude, settled), y);
    }

    // |x| in [512, 1024), x >= -746: the results that may overflow or turn subnormal.
    [[gnu::always_inline]] static V scale_apart(V x, const Steps& steps) {
        const V one = Ops::broadcast(1.0);
        // |x| in [512, 1024) and positive: the scale is taken 2^1009 down, applied after the sum,
        // which may overflow to inf.
        const V high_scale = Ops::from_bits(Ops::add_bits(steps.scale_bits, Ops::broadcast_bits(-(std::uint64_t{1009} << 52))));
        const V high = Ops::mul(Ops::broadcast(0x1p1009), mul_add(high_scale, steps.tmp, high_scale));
        // Negative: the scale is taken 2^1022 up and the sum formed around 1, so that the final
        // scaling rounds only once. No operation here is fused in either variant.
        const V low_scale = Ops::from_bits(Ops::add_bits(steps.scale_bits, Ops::broadcast_bits(std::uint64_t{1022} << 52)));
        const V scaled_tmp = Ops::mul(low_scale, steps.tmp);
        const V sum = Ops::add(low_scale, scaled_tmp);
        const V hi = Ops::add(one, sum);
        const V lo = Ops::add(Ops::add(Ops::sub(one, hi), sum), Ops::add(Ops::sub(low_scale, sum), scaled_tmp));
        V around_one = Ops::sub(Ops::add(hi, lo), one);
        around_one = Ops::blend(Ops::eq(around_one, Ops::broadcast(0.0)), Ops::broadcast(0.0), around_one);  // -0 becomes +0
        const V low = Ops::mul(Ops::broadcast(0x1p-1022), Ops::blend(Ops::lt(sum, one), around_one, sum));
        return Ops::blend(Ops::lt(x, Ops::broadcast(0.0)), low, high);
    }

    // The other lanes outside the regular range by rule: 1 + x for tiny |x| and NaN, +0 below the
    // underflow, +inf above the overflow.
    [[gnu::always_inline]] static V by_rule(V x, V magnitude, V y) {
        namespace d = exp_detail;
        const M tiny = Ops::either(Ops::lt(magnitude, Ops::broadcast(d::kTinyBound)), Ops::unordered(x));
        y = Ops::blend(tiny, Ops::add(Ops::broadcast(1.0), x), y);
        y = Ops::blend(Ops::ge(x, Ops::broadcast(d::kHugeBound)), Ops::broadcast(__builtin_inf()), y);
        return Ops::blend(Ops::lt(x, Ops::broadcast(d::kZeroBelow)), Ops::broadcast(0.0), y);
    }
};

}  // namespace rc::libm
