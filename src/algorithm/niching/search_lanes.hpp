// The nearest-direction search with lanes across reference directions, written once over an
// ops struct.
#pragma once

#include <cstddef>
#include <cstdint>

#include "algorithm/niching/kernels.hpp"

namespace rc::algorithm::niching {

// Squared distances from p to directions r … r+width-1, each lane in the documented order
// (the square root is left to the caller). Dims > 0 fixes the objective count at compile time
// so both passes unroll fully; Dims = 0 reads it from the table.
template <class Ops, std::size_t Dims>
[[gnu::always_inline]] inline typename Ops::V squared_distances(const DirectionTable& table, const double* p,
                                                                    std::size_t r) {
    using V = typename Ops::V;
    const std::size_t dims = Dims > 0 ? Dims : table.dims, stride = table.stride;
    const double* w = table.columns + r;
    V dot = Ops::mul(Ops::broadcast(p[0]), Ops::loadu(w));
    for (std::size_t k = 1; k < dims; ++k) dot = Ops::add(dot, Ops::mul(Ops::broadcast(p[k]), Ops::loadu(w + k * stride)));
    const V t = Ops::div(dot, Ops::loadu(table.squared_norms + r));
    V diff = Ops::sub(Ops::broadcast(p[0]), Ops::mul(Ops::loadu(w), t));
    V sum = Ops::mul(diff, diff);
    for (std::size_t k = 1; k < dims; ++k) {
        diff = Ops::sub(Ops::broadcast(p[k]), Ops::mul(Ops::loadu(w + k * stride), t));
        sum = Ops::add(sum, Ops::mul(diff, diff));
    }
    return sum;
}

// Replaces the lanes of best, best_sum and best_index where distance < best (an ordered
// comparison, so NaN never replaces).
template <class Ops>
inline void keep_smaller(typename Ops::V distance, typename Ops::V sum, typename Ops::V index, typename Ops::V& best,
                         typename Ops::V& best_sum, typename Ops::V& best_index) {
    const auto closer = Ops::lt(distance, best);
    best = Ops::blend(closer, distance, best);
    best_sum = Ops::blend(closer, sum, best_sum);
    best_index = Ops::blend(closer, index, best_index);
}

// The search compares distances, the square roots, because two different sums can round to
// the same root and the earlier direction must then win. The roots are taken only when they
// can matter: a lane's distance can only drop below its best if its sum drops below the sum
// behind that best (the root never decreases as its argument grows), so blocks in which no
// lane's sum does so are passed over without a square root.
template <class Ops, std::size_t Dims>
void nearest_rows(const DirectionTable& table, const double* points, std::size_t rows, std::int64_t* niche,
                  double* distance) {
    using V = typename Ops::V;
    constexpr std::size_t width = Ops::lanes;
    static_assert(kLaneBlock % width == 0, "the padding must fill whole vectors");
    const std::size_t dims = Dims > 0 ? Dims : table.dims, stride = table.stride;

    alignas(64) double first_indices[width];
    for (std::size_t l = 0; l < width; ++l) first_indices[l] = static_cast<double>(l);
    const V step = Ops::broadcast(static_cast<double>(width));

    for (std::size_t i = 0; i < rows; ++i) {
        const double* p = points + i * dims;
        // Each lane keeps the first of its strictly smallest distances (and the sum behind it);
        // lanes start from +inf with no index, so a lane that only sees NaN or +inf has none.
        V best = Ops::broadcast(__builtin_inf());
        V best_sum = best;
        V best_index = Ops::broadcast(-1.0);
        V index = Ops::loadu(first_indices);

        const V first_sums = squared_distances<Ops, Dims>(table, p, 0);
        const V first_block = Ops::sqrt(first_sums);
        alignas(64) double lanes[width];
        Ops::storeu(lanes, first_block);
        const double to_first = lanes[0];
        keep_smaller<Ops>(first_block, first_sums, index, best, best_sum, best_index);
        for (std::size_t r = width; r < stride; r += width) {
            index = Ops::add(index, step);
            const V sum = squared_distances<Ops, Dims>(table, p, r);
            if (Ops::any(Ops::lt(sum, best_sum)))
                keep_smaller<Ops>(Ops::sqrt(sum), sum, index, best, best_sum, best_index);
        }

        // The sequential rule, recovered from the lanes: direction 0 stands if its distance is
        // NaN; otherwise the smallest non-NaN distance wins, the lowest index among equals.
        double chosen = to_first, chosen_index = 0.0;
        if (to_first == to_first) {
            alignas(64) double lane_index[width];
            Ops::storeu(lanes, best);
            Ops::storeu(lane_index, best_index);
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
template <class Ops>
void nearest_in_lanes(const DirectionTable& table, const double* points, std::size_t rows, std::int64_t* niche,
                      double* distance) {
    switch (table.dims) {
        case 2: return nearest_rows<Ops, 2>(table, points, rows, niche, distance);
        case 3: return nearest_rows<Ops, 3>(table, points, rows, niche, distance);
        case 4: return nearest_rows<Ops, 4>(table, points, rows, niche, distance);
        case 5: return nearest_rows<Ops, 5>(table, points, rows, niche, distance);
        case 6: return nearest_rows<Ops, 6>(table, points, rows, niche, distance);
        case 8: return nearest_rows<Ops, 8>(table, points, rows, niche, distance);
        case 10: return nearest_rows<Ops, 10>(table, points, rows, niche, distance);
        default: return nearest_rows<Ops, 0>(table, points, rows, niche, distance);
    }
}

}  // namespace rc::algorithm::niching
