// The normalisation step of normalization.hpp: a fresh ideal point and nadir estimate.
#include "algorithm/normalization.hpp"

#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "algorithm/lu_solve.hpp"

namespace rc::algorithm {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Weight of the off-axis objectives in the achievement function that picks extreme points.
constexpr double kOffAxisWeight = 1e6;
// Hyperplane solutions this close to zero mean an intercept too far out to trust.
constexpr double kSmallestSolution = 1e-14;

// The ideal point lowered to the column minima of every row of f. NaN never lowers a value.
Buffer<double> updated_ideal(const VectorView& ideal_point, const MatrixView& f) {
    const std::size_t length = ideal_point.extent(0), n = f.extent(1), m = f.extent(0);
    if (n > length) {
        const std::string len = std::to_string(length);
        fail("index out of bounds: the len is " + len + " but the index is " + len);
    }
    auto ideal = Buffer<double>::uninitialized(length);
    for (std::size_t j = 0; j < length; ++j) ideal[j] = ideal_point(j);
    // Without columns the rows hold nothing, however many a zero-stride view claims: their loop
    // is not left to the compiler to remove (GCC does, clang does not).
    if (n == 0) return ideal;
    // Row by row for memory order; every column still sees the rows in increasing order.
    for (std::size_t r = 0; r < m; ++r)
        for (std::size_t j = 0; j < n; ++j) {
            const double value = f(r, j);
            if (value < ideal[j]) ideal[j] = value;
        }
    return ideal;
}

// The front's indices as row numbers of f; a negative entry reads as a huge row number.
std::vector<std::size_t> front_rows(const IndexView& first_front, std::size_t m) {
    std::vector<std::size_t> rows(allocatable_count<std::size_t>(first_front.extent(0)));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i] = static_cast<std::size_t>(static_cast<std::uint64_t>(first_front(i)));
        if (rows[i] >= m) fail_index_out_of_bounds();
    }
    return rows;
}

// Column-wise maximum of the given rows of f; NaN never raises a value, an empty set of rows
// leaves minus infinity.
Buffer<double> worst_point(const MatrixView& f, const std::vector<std::size_t>& rows) {
    const std::size_t n = f.extent(1);
    auto worst = Buffer<double>::filled(n, -kInfinity);
    for (std::size_t r : rows)
        for (std::size_t j = 0; j < n; ++j) {
            const double value = f(r, j);
            if (value > worst[j]) worst[j] = value;
        }
    return worst;
}

// Largest weighted distance of a front row from the ideal point P, the on-axis objective
// weighted 1 and the others 1e6; NaN terms are skipped.
double achievement(const MatrixView& f, std::size_t row, const Buffer<double>& ideal, std::size_t axis) {
    double largest = -kInfinity;
    for (std::size_t k = 0; k < f.extent(1); ++k) {
        const double weight = k == axis ? 1.0 : kOffAxisWeight;
        const double term = (f(row, k) - ideal[k]) * weight;
        if (term > largest) largest = term;
    }
    return largest;
}

// For each axis, the front member (an index into `rows`) with the smallest achievement value,
// the earliest on ties; index 0 for an empty front.
std::vector<std::size_t> extreme_members(const MatrixView& f, const std::vector<std::size_t>& rows,
                                         const Buffer<double>& ideal) {
    const std::size_t n = f.extent(1);
    std::vector<std::size_t> extremes(n, 0);
    for (std::size_t axis = 0; axis < n; ++axis) {
        double best = kInfinity;
        for (std::size_t j = 0; j < rows.size(); ++j) {
            const double value = achievement(f, rows[j], ideal, axis);
            if (value < best) {
                best = value;
                extremes[axis] = j;
            }
        }
    }
    return extremes;
}

// nadir[i] = P[i] + 1/x[i] for the solution x of the hyperplane through the extreme points
// (translated by P) with all intercept equations equal to 1; nullopt when the plane is
// singular, nearly parallel to an axis or cuts an axis on the wrong side of P. Without
// objectives the system is 0×0 and its empty solution gives an empty estimate.
std::optional<Buffer<double>> hyperplane_nadir(const MatrixView& f, const std::vector<std::size_t>& rows,
                                               const std::vector<std::size_t>& extremes, const Buffer<double>& ideal) {
    const std::size_t n = f.extent(1);
    auto a = Matrix<double>::uninitialized(n, n);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) a(i, j) = f(rows[extremes[i]], j) - ideal[j];
    const auto x = lu_solve(std::move(a), std::vector<double>(n, 1.0));
    if (!x) return std::nullopt;
    for (double component : *x)
        if (std::fabs(component) < kSmallestSolution) return std::nullopt;  // NaN passes
    auto nadir = Buffer<double>::uninitialized(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double intercept = 1.0 / (*x)[i];
        if (intercept <= 0.0) return std::nullopt;  // NaN passes
        nadir[i] = ideal[i] + intercept;
    }
    return nadir;
}

}  // namespace

std::pair<Buffer<double>, Buffer<double>> normalization_update(const VectorView& ideal_point, const MatrixView& f,
                                                                  const IndexView& first_front, std::uint64_t n_dim) {
    auto ideal = updated_ideal(ideal_point, f);
    const auto rows = front_rows(first_front, f.extent(0));
    // Too small a front to span a hyperplane: its worst values are the estimate.
    if (rows.size() < n_dim) return {std::move(ideal), worst_point(f, rows)};

    const auto extremes = extreme_members(f, rows, ideal);
    // The extreme points fill rows 0 … n-1 of an n_dim-row table, so n_dim must cover them.
    if (n_dim < f.extent(1)) fail_index_out_of_bounds();
    auto nadir = hyperplane_nadir(f, rows, extremes, ideal);
    if (!nadir) nadir = worst_point(f, rows);
    return {std::move(ideal), std::move(*nadir)};
}

}  // namespace rc::algorithm
