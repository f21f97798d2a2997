// What the measures over the alignments of two series share.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace rc::distances {

// The last cell R[n][m] of an accumulated matrix when n or m is 0: its corner R[0][0] when both
// series are empty, otherwise a cell of the boundary. Answered without sweeping, which for an
// empty y would still visit every row of x.
constexpr double empty_alignment(std::size_t n, std::size_t m, double corner, double boundary) noexcept {
    return n == m ? corner : boundary;
}

// 1 / d when it is exact, for d a positive normal power of two 2^k (then 2^-k, a subnormal for
// k = 1023, is a double too); else 0. x * (1 / d) then rounds the exact value of x / d, and a
// multiplication costs a fraction of a division.
constexpr double exact_reciprocal(double d) noexcept {
    const auto bits = std::bit_cast<std::uint64_t>(d);
    const auto exponent = bits >> 52;  // the sign bit included: negative d is left out
    const bool power_of_two = (bits & ((std::uint64_t{1} << 52) - 1)) == 0 && exponent != 0 && exponent < 0x7ff;
    return power_of_two ? 1.0 / d : 0.0;
}

}  // namespace rc::distances
