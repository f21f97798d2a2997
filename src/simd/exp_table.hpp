// The constants and the 2 x 128-word table of the table-driven exp that the C library uses, and
// the one-lane version of that exp, both variants, every range: the reference the vector lanes
// follow and the path their rare special lanes take.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace rc::simd::exp_detail {

// Table of 2^(j/128), generated from its definition by tools/exp_table.py.
inline constexpr std::uint64_t kTable[256] = {
#include "simd/exp_table.inc"
};

// x = k * ln2 / 128 + r: k comes from rounding x * 128 / ln2 by adding Shift, ln2 / 128 is split
// in a head with zero low bits (k * head is exact) and a tail.
inline constexpr double kInvLn2N = 0x1.71547652b82fep0 * 128;
inline constexpr double kShift = 0x1.8p52;
inline constexpr double kNegLn2HiN = -0x1.62e42fefa0000p-8;
inline constexpr double kNegLn2LoN = -0x1.cf79abc9e3b3ap-47;
// exp(r) - 1 ~ r + C2 r^2 + C3 r^3 + C4 r^4 + C5 r^5 on |r| <= ln2 / 256.
inline constexpr double kC2 = 0x1.ffffffffffdbdp-2;
inline constexpr double kC3 = 0x1.555555555543cp-3;
inline constexpr double kC4 = 0x1.55555cf172b91p-5;
inline constexpr double kC5 = 0x1.1111167a4d017p-7;

// The regular range 2^-54 <= |x| < 512 by the top 12 bits of |x|.
inline constexpr std::uint32_t kTopTiny = 0x3c9;   // top bits of 2^-54
inline constexpr std::uint32_t kTopLarge = 0x408;  // top bits of 512
inline constexpr std::uint32_t kTopHuge = 0x409;   // top bits of 1024

inline constexpr double kTinyBound = 0x1p-54;
inline constexpr double kLargeBound = 512.0;
inline constexpr double kHugeBound = 1024.0;
// exp(x) rounds to +0 below about -745.13; every x below this bound lies far beyond it.
inline constexpr double kZeroBelow = -746.0;

// a * b + c with one rounding (Fused) or two.
template <bool Fused>
inline double mul_add(double a, double b, double c) noexcept {
    if constexpr (Fused)
        return std::fma(a, b, c);
    else
        return a * b + c;
}

// The library's exp of x for the variant with fused multiply-adds (Fused) or without.
template <bool Fused>
double exp_one(double x) noexcept {
    const std::uint64_t ux = std::bit_cast<std::uint64_t>(x);
    const std::uint32_t abstop = static_cast<std::uint32_t>(ux >> 52) & 0x7ff;
    bool scaled = false;  // |x| in [512, 1024): the result may leave the normal range
    if (abstop - kTopTiny >= kTopLarge - kTopTiny) {
        if (abstop < kTopTiny) return 1.0 + x;
        if (abstop >= kTopHuge) {
            if (ux == std::bit_cast<std::uint64_t>(-std::numeric_limits<double>::infinity())) return 0.0;
            if (abstop >= 0x7ff) return 1.0 + x;
            return (ux >> 63) != 0 ? 0.0 : std::numeric_limits<double>::infinity();
        }
        scaled = true;
    }
    double kd = mul_add<Fused>(kInvLn2N, x, kShift);
    const std::uint64_t ki = std::bit_cast<std::uint64_t>(kd);
    kd -= kShift;
    const double r = Fused ? std::fma(kd, kNegLn2LoN, std::fma(kd, kNegLn2HiN, x)) : x + kd * kNegLn2HiN + kd * kNegLn2LoN;
    const std::uint64_t index = 2 * (ki % 128);
    const double tail = std::bit_cast<double>(kTable[index]);
    std::uint64_t sbits = kTable[index + 1] + (ki << 45);
    const double r2 = r * r;
    const double tmp = Fused ? std::fma(r2 * r2, std::fma(r, kC5, kC4), std::fma(r2, std::fma(r, kC3, kC2), tail + r))
                             : tail + r + r2 * (kC2 + r * kC3) + r2 * r2 * (kC4 + r * kC5);
    if (!scaled) {
        const double scale = std::bit_cast<double>(sbits);
        return mul_add<Fused>(scale, tmp, scale);
    }
    if ((ki & 0x80000000u) == 0) {
        // Large positive x: scale by 2^1009 after the sum, which may overflow to inf.
        sbits -= std::uint64_t{1009} << 52;
        const double scale = std::bit_cast<double>(sbits);
        return 0x1p1009 * mul_add<Fused>(scale, tmp, scale);
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

}  // namespace rc::simd::exp_detail
