// The constants and the 2 x 128-word table of the table-driven exp that the C library uses (the
// code that uses them is in exp_lanes.hpp).
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace rc::libm::exp_detail {

// Table of 2^(j/128), generated from its definition by tools/exp_table.py.
inline constexpr std::uint64_t kTable[256] = {
#include "libm/exp_table.inc"
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

}  // namespace rc::libm::exp_detail
