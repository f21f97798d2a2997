// Associating solutions with reference directions: the points normalised, the directions laid
// out for lanes, and the rows searched on the worker pool with the kernel table's search.
#include "algorithm/niching/niching.hpp"

#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

#include "algorithm/niching/kernels.hpp"
#include "pool/worker_pool.hpp"

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

}  // namespace

std::pair<Buffer<std::int64_t>, Buffer<double>> associate_to_niches(
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
    const niching::NearestFn search = niching::kernels().nearest;
    // Only the nearest direction of each solution is kept, so no m×R distance matrix is built;
    // each worker writes the results of its own rows.
    pool::parallel_for(m, [&](std::size_t begin, std::size_t end) {
        search(table.view, points.data() + begin * n, end - begin, niches.data() + begin, distances.data() + begin);
    });
    return {std::move(niches), std::move(distances)};
}

}  // namespace rc::algorithm
