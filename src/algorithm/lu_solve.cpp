// The dense solve of lu_solve.hpp: LU factorisation with partial pivoting, then substitution.
#include "algorithm/lu_solve.hpp"

#include <cmath>
#include <cstddef>
#include <utility>

namespace rc::algorithm {
namespace {

// Gaussian elimination in place; a ends up holding U on and above the diagonal and the
// multipliers of L (unit diagonal implied) below it, b the matching row exchanges.
void factorise_in_place(Matrix<double>& a, std::vector<double>& b) {
    const std::size_t n = a.rows;
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t pivot = k;
        double largest = std::fabs(a(k, k));
        for (std::size_t i = k + 1; i < n; ++i) {
            const double magnitude = std::fabs(a(i, k));
            if (magnitude > largest) {
                largest = magnitude;
                pivot = i;
            }
        }
        if (largest == 0.0) continue;  // nothing to eliminate; the solve reports the zero pivot
        if (pivot != k) {
            for (std::size_t j = 0; j < n; ++j) std::swap(a(k, j), a(pivot, j));
            std::swap(b[k], b[pivot]);
        }
        const double diagonal = a(k, k);
        for (std::size_t i = k + 1; i < n; ++i) {
            const double l = a(i, k) / diagonal;
            a(i, k) = l;
            for (std::size_t j = k + 1; j < n; ++j) a(i, j) -= l * a(k, j);
        }
    }
}

}  // namespace

std::optional<std::vector<double>> lu_solve(Matrix<double> a, std::vector<double> b) {
    const std::size_t n = a.rows;
    factorise_in_place(a, b);
    for (std::size_t i = 0; i < n; ++i)
        if (a(i, i) == 0.0) return std::nullopt;

    std::vector<double>& y = b;  // forward substitution overwrites b row by row
    for (std::size_t i = 0; i < n; ++i) {
        double s = 0.0;
        for (std::size_t j = 0; j < i; ++j) s += a(i, j) * y[j];
        y[i] = y[i] - s;
    }
    std::vector<double> x(n);
    for (std::size_t i = n; i-- > 0;) {
        double s = 0.0;
        for (std::size_t j = i + 1; j < n; ++j) s += a(i, j) * x[j];
        x[i] = (y[i] - s) / a(i, i);
    }
    return x;
}

}  // namespace rc::algorithm
