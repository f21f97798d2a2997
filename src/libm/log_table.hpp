// The table of the bracketing log (log_bracket_lanes.hpp).
#pragma once

#include <cstdint>

namespace rc::libm::log_detail {

// ln of the centre of each of the 256 subintervals of [1, 4), as a head and a tail, generated
// from its definition by tools/log_table.py.
inline constexpr std::uint64_t kTable[512] = {
#include "libm/log_table.inc"
};

// The arguments the bracket covers: the sums of soft-DTW's cells lie in [1, 3].
inline constexpr double kLow = 1.0;
inline constexpr double kHigh = 4.0;

}  // namespace rc::libm::log_detail
