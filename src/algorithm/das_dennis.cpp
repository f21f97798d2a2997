// The Das-Dennis reference directions of das_dennis.hpp, row by row.
#include "algorithm/das_dennis.hpp"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "core/kernel_failure.hpp"

namespace rc::algorithm {

std::uint64_t checked_binomial(std::uint64_t n, std::uint64_t k) {
    if (k > n) return 0;
    k = std::min(k, n - k);
    // After step i the value is C(n - k + i, i), which only grows with i, so the first step
    // whose value leaves 64 bits proves the result does not fit either. i divides
    // value * (n - k + i); with g = gcd(value, i), i / g divides n - k + i, so each step is two
    // exact divisions and one checked product. Kept to 64 bits: a 128-bit division links the
    // compiler's runtime, and zig's brings its own memcpy, memmove and memset, which then stand
    // in for the C library's throughout the module.
    std::uint64_t value = 1;
    for (std::uint64_t i = 1; i <= k; ++i) {
        const std::uint64_t g = std::gcd(value, i);
        if (__builtin_mul_overflow(value / g, (n - k + i) / (i / g), &value)) {
            fail("capacity overflow");
        }
    }
    return value;
}

namespace {

// Writes every split of `units` into `dims` non-negative numerators, as rows of numerator/P,
// in ascending lexicographic order of the numerators. The row order is that of the
// depth-first enumeration that hands out the smallest numerator first; because k/P grows
// with k, it is also ascending lexicographic order of the coordinates, so no sort is needed.
void write_directions(std::size_t dims, std::uint64_t units, double* out) {
    // Each coordinate is exactly the one division k/P. A table of them saves the divisions when
    // it is small; with many partitions (few dimensions) it would rival the result in size.
    constexpr std::uint64_t kMaxTable = std::uint64_t{1} << 16;
    const double denominator = static_cast<double>(units);
    std::vector<double> table(units < kMaxTable ? units + 1 : 0);
    for (std::uint64_t k = 0; k < table.size(); ++k) table[k] = static_cast<double>(k) / denominator;
    auto fraction = [&](std::uint64_t k) {
        return table.empty() ? static_cast<double>(k) / denominator : table[k];
    };

    // The free numerators are the first dims - 1; the last one takes what is left.
    const std::size_t free = dims - 1;
    std::vector<std::uint64_t> numerator(free, 0);
    std::uint64_t given = 0;  // sum of the free numerators
    for (;;) {
        for (std::size_t i = 0; i < free; ++i) out[i] = fraction(numerator[i]);
        out[free] = fraction(units - given);
        out += dims;
        // Lexicographic successor among free numerators whose sum stays within P.
        if (given < units) {
            ++numerator[free - 1];
            ++given;
            continue;
        }
        // All units are given out: move one unit from the last non-zero position to the
        // position before it, clearing everything after that.
        std::size_t last = free - 1;
        while (numerator[last] == 0) --last;
        if (last == 0) return;  // (P, 0, ..., 0) was the last row
        given -= numerator[last] - 1;
        numerator[last] = 0;
        ++numerator[last - 1];
    }
}

}  // namespace

Matrix<double> das_dennis(std::uint64_t n_dim, std::uint64_t n_partitions) {
    if (n_dim == 0) throw InvalidValue("n_dim must be >= 1, got " + std::to_string(n_dim));
    if (n_dim == 1) return Matrix<double>::filled(1, 1, 1.0);
    if (n_partitions == 0) return Matrix<double>::filled(1, n_dim, 1.0 / static_cast<double>(n_dim));

    const std::uint64_t rows = checked_binomial(checked_add(n_partitions, n_dim - 1), n_dim - 1);
    auto directions = Matrix<double>::uninitialized(rows, n_dim);  // checks rows * n_dim * 8
    write_directions(n_dim, n_partitions, directions.values.data());
    return directions;
}

}  // namespace rc::algorithm
