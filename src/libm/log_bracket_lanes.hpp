// An interval [lo, hi] around ln(s) for s in [1, 4), in SIMD lanes, that holds every double within
// one ulp of ln(s), and so the C library's log (whose error is about half an ulp), while staying
// as narrow as that allows: mostly the two neighbours of our own value. Over any ops struct of
// simd/ops.hpp.
//
// The value: s lies in one of 256 subintervals of [1, 4) (the top seven fraction bits), whose
// centre c has a table entry ln(c) = H + T. Then ln(s) = ln(c) + ln(1 + r), r = (s - c) / c,
// |r| <= 2^-8, and ln(1 + r) = r - r^2/2 + r^3/3 - ... + r^7/7 up to |r|^8/8 < 2^-67. s - c is
// exact (same binade, both multiples of its ulp), the division rounds once: |r - r_exact| <=
// 2^-61, which moves ln(1 + r) by as much. The polynomial's tail q = r^2 (-1/2 + r/3 - ...) is
// below 2^-17 and carries a relative error of a few 2^-53 (2^-68 absolute); T + q rounds by
// 2^-70, r + (T + q) by 2^-61 (it is below 2^-7), and the final H + that by half an ulp of the
// value v. Altogether |v - ln(s)| <= 2^-53 |v| + 2^-59.9.
//
// The bounds: from v >= 2^-4 on, |v - ln(s)| <= ulp(v) / 2 + E with E = 2^-59.9 below a quarter
// of ulp(v), so every double within one ulp of ln(s) lies within 1.5 ulp(v) + E < 2 ulp(v) of
// v: it is v or one of its neighbours, and the bracket is [pred(v), succ(v)] (where v is a power
// of two, its lower neighbour is nearer, which only tightens the argument). Below 2^-4 E is not
// small against ulp(v); there the bracket is v -/+ 2^-51 |v| + 2^-58, which covers our error,
// one ulp of ln(s) (at most 2^-52 |v|, slightly more) and the rounding of v -/+ the radius
// itself, with 2^-59 to spare. The cells that need the bracket's width most have v far above
// 2^-4. Every operation is a correctly rounded addition, subtraction, multiplication or division
// without fused multiply-add, so every target computes the same bounds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "libm/log_table.hpp"

namespace rc::libm {

template <class Ops>
struct LogBracket {
    using V = typename Ops::V;
    using M = typename Ops::M;
    using I = typename Ops::I;
    static constexpr std::size_t W = Ops::lanes;

    struct Bounds {
        V lo, hi;
        M inside;  // s in [1, 4): false for other lanes, NaN among them, whose bounds mean nothing
    };

    static Bounds compute(V s) {
        namespace d = log_detail;
        const M inside = Ops::both(Ops::ge(s, Ops::broadcast(d::kLow)), Ops::lt(s, Ops::broadcast(d::kHigh)));
        // Lanes outside take 1.5, so that every index stays in the table.
        const V z = Ops::blend(inside, s, Ops::broadcast(1.5));
        const I z_bits = Ops::bits(z);
        constexpr std::uint64_t kFraction = (std::uint64_t{1} << 45) - 1;  // below the index bits
        const V c = Ops::from_bits(Ops::or_bits(Ops::and_bits(z_bits, Ops::broadcast_bits(~kFraction)),
                                                Ops::broadcast_bits(std::uint64_t{1} << 44)));
        const V r = Ops::div(Ops::sub(z, c), c);
        // Subinterval j = the exponent and top fraction bits less those of 1.0; words 2j, 2j + 1.
        const I j = Ops::add_bits(Ops::template shift_right<45>(z_bits), Ops::broadcast_bits(-(std::uint64_t{0x3ff} << 7)));
        I head_bits, tail_bits;
        Ops::gather_pairs(d::kTable, Ops::template shift_left<1>(j), head_bits, tail_bits);
        // p = -1/2 + r/3 - r^2/4 + r^3/5 - r^4/6 + r^5/7 in pairs (Estrin's scheme): the cells
        // wait on this, and pairs halve the chain of Horner's rule.
        const V r2 = Ops::mul(r, r), r4 = Ops::mul(r2, r2);
        const V p01 = Ops::add(Ops::broadcast(-1.0 / 2.0), Ops::mul(r, Ops::broadcast(1.0 / 3.0)));
        const V p23 = Ops::add(Ops::broadcast(-1.0 / 4.0), Ops::mul(r, Ops::broadcast(1.0 / 5.0)));
        const V p45 = Ops::add(Ops::broadcast(-1.0 / 6.0), Ops::mul(r, Ops::broadcast(1.0 / 7.0)));
        const V p = Ops::add(Ops::add(p01, Ops::mul(r2, p23)), Ops::mul(r4, p45));
        const V q = Ops::mul(r2, p);
        const V value = Ops::add(Ops::from_bits(head_bits), Ops::add(r, Ops::add(Ops::from_bits(tail_bits), q)));
        const V radius = Ops::add(Ops::mul(Ops::abs(value), Ops::broadcast(0x1p-51)), Ops::broadcast(0x1p-58));
        const M neighbours = Ops::ge(value, Ops::broadcast(0x1p-4));  // v positive: its neighbours are bits -/+ 1
        const I value_bits = Ops::bits(value);
        const V below = Ops::from_bits(Ops::add_bits(value_bits, Ops::broadcast_bits(~std::uint64_t{0})));
        const V above = Ops::from_bits(Ops::add_bits(value_bits, Ops::broadcast_bits(1)));
        return {Ops::blend(neighbours, below, Ops::sub(value, radius)), Ops::blend(neighbours, above, Ops::add(value, radius)),
                inside};
    }

    // The bounds of in[0..count) into lo and hi, NaN for arguments outside [1, 4).
    static void apply(const double* in, double* lo, double* hi, std::size_t count) {
        const V nan = Ops::broadcast(__builtin_nan(""));
        auto one_vector = [&](const double* from, double* to_lo, double* to_hi) {
            const Bounds b = compute(Ops::loadu(from));
            Ops::storeu(to_lo, Ops::blend(b.inside, b.lo, nan));
            Ops::storeu(to_hi, Ops::blend(b.inside, b.hi, nan));
        };
        std::size_t k = 0;
        for (; k + W <= count; k += W) one_vector(in + k, lo + k, hi + k);
        if (k < count) {
            alignas(64) double rest[W], rest_lo[W], rest_hi[W];
            for (std::size_t w = 0; w < W; ++w) rest[w] = k + w < count ? in[k + w] : 1.0;
            one_vector(rest, rest_lo, rest_hi);
            for (std::size_t w = 0; k + w < count; ++w) lo[k + w] = rest_lo[w], hi[k + w] = rest_hi[w];
        }
    }
};

}  // namespace rc::libm
