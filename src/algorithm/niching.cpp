#include "algorithm/niching.hpp"

#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

#include "algorithm/niching_kernels.hpp"
#include "simd_level.hpp"
#include "worker_pool.hpp"

namespace rc::algorithm {
namespace {

using niching::DirectionTable;

// Floors that keep a collapsed objective range and a zero direction from dividing by zero.
constexpr double kSmallestRange = 1e-12;
constexpr double kSmallestSquaredNorm = 1e-14;

// Row-major m×n matrix of (f[i][j] - ideal[j]) / range[j], range[j] the objective's span
// nadir[j] - ideal[j], floored at 1e-12 (NaN and -inf spans too).
Buffer<double> normalised_points(const MatrixView& f, const VectorView& ideal, const VectorView& nadir) {
    const std::size_t m = f.extent(0), n = f.extent(1);
    auto range = Buffer<double>::uninitialized(n);
    for (std::size_t j = 0; j < n; ++j) {
        const double span = nadir(j) - ideal(j);
        range[j] = span > kSmallestRange ? span : kSmallestRange;
    }
    auto points = Buffer<double>::uninitialized(checked_mul(m, n));
    for (std::size_t i = 0; i < m; ++i)
        for (std::size_t j = 0; j < n; ++j) points[i * n + j] = (f(i, j) - ideal(j)) / range[j];
    return points;
}

// The directions transposed into one padded array per objective, with their squared norms
// summed in objective order and floored at 1e-14 (a NaN sum too). Built once per call so the
// per-solution search reads contiguous lanes.
struct OwnedDirectionTable {
    Buffer<double> columns;
    Buffer<double> squared_norms;
    DirectionTable view;
};

OwnedDirectionTable direction_table(const MatrixView& ref_dirs, std::size_t dims) {
    const std::size_t count = ref_dirs.extent(0);
    const std::size_t stride = checked_add(count, niching::kLaneBlock - 1) / niching::kLaneBlock * niching::kLaneBlock;
    auto columns = Buffer<double>::filled(checked_mul(dims, stride), std::numeric_limits<double>::quiet_NaN());
    auto norms = Buffer<double>::filled(stride, 1.0);
    for (std::size_t r = 0; r < count; ++r) {
        double sum = 0.0;
        for (std::size_t k = 0; k < dims; ++k) {
            const double w = ref_dirs(r, k);
            columns[k * stride + r] = w;
            sum = k == 0 ? w * w : sum + w * w;
        }
        norms[r] = sum > kSmallestSquaredNorm ? sum : kSmallestSquaredNorm;
    }
    // The view points into the buffers' heap storage, which moving the buffers does not relocate.
    DirectionTable view{columns.data(), norms.data(), dims, count, stride};
    return {std::move(columns), std::move(norms), view};
}

// The search of the process's SIMD level; every level gives the same bits.
niching::NearestFn chosen_search() noexcept {
#if defined(__x86_64__)
    switch (simd_level()) {
        case SimdLevel::avx512: return niching::nearest_avx512;
        case SimdLevel::avx2: return niching::nearest_avx2;
        case SimdLevel::scalar: break;
    }
#endif
    return niching::nearest_scalar;
}

}  // namespace

namespace niching {

// The reference form of the search: one direction after the other, exactly the documented
// operation order, the sequential strict-less rule for the winner.
void nearest_scalar(const DirectionTable& table, const double* points, std::size_t rows, std::int64_t* niche,
                    double* distance) {
    const std::size_t dims = table.dims, stride = table.stride;
    for (std::size_t i = 0; i < rows; ++i) {
        const double* p = points + i * dims;
        double best = 0.0;
        std::size_t best_index = 0;
        for (std::size_t r = 0; r < table.count; ++r) {
            const double* w = table.columns + r;
            double dot = p[0] * w[0];
            for (std::size_t k = 1; k < dims; ++k) dot += p[k] * w[k * stride];
            const double t = dot / table.squared_norms[r];
            double diff = p[0] - w[0] * t;
            double sum = diff * diff;
            for (std::size_t k = 1; k < dims; ++k) {
                diff = p[k] - w[k * stride] * t;
                sum += diff * diff;
            }
            const double d = std::sqrt(sum);
            if (r == 0 || d < best) {
                best = d;
                best_index = r;
            }
        }
        niche[i] = static_cast<std::int64_t>(best_index);
        distance[i] = best;
    }
}

}  // namespace niching

std::pair<Buffer<std::int64_t>, Buffer<double>> associate_to_niches_py(
    const MatrixView& f, const MatrixView& ref_dirs, const VectorView& ideal, const VectorView& nadir) {
    const std::size_t m = f.extent(0), n = f.extent(1), directions = ref_dirs.extent(0);
    if (m > 0 && n > 0 && (ideal.extent(0) < n || nadir.extent(0) < n)) fail_index_out_of_bounds();
    if (n > 0 && directions > 0 && ref_dirs.extent(1) < n) fail_index_out_of_bounds();
    if (m > 0 && directions == 0) fail_index_out_of_bounds();

    auto niches = Buffer<std::int64_t>::uninitialized(m);
    auto distances = Buffer<double>::uninitialized(m);
    if (m == 0) return {std::move(niches), std::move(distances)};
    if (n == 0) {
        // No objectives: every direction is at distance 0.0, so direction 0 wins everywhere.
        for (std::size_t i = 0; i < m; ++i) niches[i] = 0, distances[i] = 0.0;
        return {std::move(niches), std::move(distances)};
    }

    const auto points = normalised_points(f, ideal, nadir);
    const auto table = direction_table(ref_dirs, n);
    const niching::NearestFn search = chosen_search();
    // Only the nearest direction of each solution is kept, so no m×R distance matrix is built;
    // each worker writes the results of its own rows.
    pool::parallel_for(m, [&](std::size_t begin, std::size_t end) {
        search(table.view, points.data() + begin * n, end - begin, niches.data() + begin, distances.data() + begin);
    });
    return {std::move(niches), std::move(distances)};
}

}  // namespace rc::algorithm
