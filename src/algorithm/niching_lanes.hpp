// The nearest-direction search with SIMD lanes across reference directions, written once and
// compiled by each instruction-set source (niching_avx2.cpp, niching_avx512.cpp).
//
// The Lanes policy must be a class in the including file's anonymous namespace: every
// instantiation then has internal linkage, so code compiled for one instruction set can never
// be merged with, or picked by the linker for, another. For the same reason nothing here calls
// a non-template inline function of the standard library.
//
// Lanes provides: Vec, width, broadcast(double), load(const double*), store(double*, Vec),
// sqrt(Vec), any_less(a, b) (some lane has a < b), and keep_smaller(distance, sum, index,
// best, best_sum, best_index), which replaces the lanes of best/best_sum/best_index where
// distance < best (an ordered comparison, so NaN never replaces).
#pragma once

#include <cstddef>
#include <cstdint>

#include "algorithm/niching_kernels.hpp"

namespace rc::algorithm::niching {

// Squared distances from p to directions r … r+width-1, each lane in the documented order
// (the square root is left to the caller). Dims > 0 fixes the objective count at compile time
// so both passes unroll fully; Dims = 0 reads it from the table.
template <class Lanes, std::size_t Dims>
[[gnu::always_inline]] inline typename Lanes::Vec squared_distances(const DirectionTable& table, const double* p,
                                                                    std::size_t r) {
    using Vec = typename Lanes::Vec;
    const std::size_t dims = Dims > 0 ? Dims : table.dims, stride = table.stride;
    const double* w = table.columns + r;
    Vec dot = Lanes::broadcast(p[0]) * Lanes::load(w);
    for (std::size_t k = 1; k < dims; ++k) dot = dot + Lanes::broadcast(p[k]) * Lanes::load(w + k * stride);
    const Vec t = dot / Lanes::load(table.squared_norms + r);
    Vec diff = Lanes::broadcast(p[0]) - Lanes::load(w) * t;
    Vec sum = diff * diff;
    for (std::size_t k = 1; k < dims; ++k) {
        diff = Lanes::broadcast(p[k]) - Lanes::load(w + k * stride) * t;
        sum = sum + diff * diff;
    }
    return sum;
}

// The search compares distances, the square roots, because two different sums can round to
// the same root and the earlier direction must then win. The roots are taken only when they
// can matter: a lane's distance can only drop below its best if its sum drops below the sum
// behind that best (the root never decreases as its argument grows), so blocks in which no
// lane's sum does so are passed over without a square root.
template <class Lanes, std::size_t Dims>
void nearest_rows(const DirectionTable& table, const double* points, std::size_t rows, std::int64_t* niche,
                  double* distance) {
    using Vec = typename Lanes::Vec;
    constexpr std::size_t width = Lanes::width;
    static_assert(kLaneBlock % width == 0, "the padding must fill whole vectors");
    const std::size_t dims = Dims > 0 ? Dims : table.dims, stride = table.stride;

    alignas(64) double first_indices[width];
    for (std::size_t l = 0; l < width; ++l) first_indices[l] = static_cast<double>(l);
    const Vec step = Lanes::broadcast(static_cast<double>(width));

    for (std::size_t i = 0; i < rows; ++i) {
        const double* p = points + i * dims;
        // Each lane keeps the first of its strictly smallest distances (and the sum behind it);
        // lanes start from +inf with no index, so a lane that only sees NaN or +inf has none.
        Vec best = Lanes::broadcast(__builtin_inf());
        Vec best_sum = best;
        Vec best_index = Lanes::broadcast(-1.0);
        Vec index = Lanes::load(first_indices);

        const Vec first_sums = squared_distances<Lanes, Dims>(table, p, 0);
        const Vec first_block = Lanes::sqrt(first_sums);
        alignas(64) double lanes[width];
        Lanes::store(lanes, first_block);
        const double to_first = lanes[0];
        Lanes::keep_smaller(first_block, first_sums, index, best, best_sum, best_index);
        for (std::size_t r = width; r < stride; r += width) {
            index = index + step;
            const Vec sum = squared_distances<Lanes, Dims>(table, p, r);
            if (Lanes::any_less(sum, best_sum))
                Lanes::keep_smaller(Lanes::sqrt(sum), sum, index, best, best_sum, best_index);
        }

        // The sequential rule, recovered from the lanes: direction 0 stands if its distance is
        // NaN; otherwise the smallest non-NaN distance wins, the lowest index among equals.
        double chosen = to_first, chosen_index = 0.0;
        if (to_first == to_first) {
            alignas(64) double lane_index[width];
            Lanes::store(lanes, best);
            Lanes::store(lane_index, best_index);
            for (std::size_t l = 0; l < width; ++l) {
                if (lane_index[l] < 0.0) continue;
                if (lanes[l] < chosen || (lanes[l] == chosen && lane_index[l] < chosen_index)) {
                    chosen = lanes[l];
                    chosen_index = lane_index[l];
                }
            }
        }
        niche[i] = static_cast<std::int64_t>(chosen_index);
        distance[i] = chosen;
    }
}

// Typical objective counts get a loop unrolled at compile time; others read the count.
template <class Lanes>
void nearest_in_lanes(const DirectionTable& table, const double* points, std::size_t rows, std::int64_t* niche,
                      double* distance) {
    switch (table.dims) {
        case 2: return nearest_rows<Lanes, 2>(table, points, rows, niche, distance);
        case 3: return nearest_rows<Lanes, 3>(table, points, rows, niche, distance);
        case 4: return nearest_rows<Lanes, 4>(table, points, rows, niche, distance);
        case 5: return nearest_rows<Lanes, 5>(table, points, rows, niche, distance);
        case 6: return nearest_rows<Lanes, 6>(table, points, rows, niche, distance);
        case 8: return nearest_rows<Lanes, 8>(table, points, rows, niche, distance);
        case 10: return nearest_rows<Lanes, 10>(table, points, rows, niche, distance);
        default: return nearest_rows<Lanes, 0>(table, points, rows, niche, distance);
    }
}

}  // namespace rc::algorithm::niching
