// The cost rows' plain data and kernel table (cost/table.hpp defines it per target).
#pragma once

#include <cstddef>

namespace rc::distances::cost {

// One row of squared Euclidean costs, step x_i of x against `cells` entries of features laid out
// by interleave_features: out[c] = sum over f of (x_i[f] - features[f * feature_stride + c])^2,
// from 0.0 in increasing f.
struct FeatureRow {
    const std::byte* x;       // x_i[0]; x_i[f] at x + f * x_step bytes
    std::ptrdiff_t x_step;
    std::size_t d;
    const double* features;
    std::size_t feature_stride;  // steps * lanes
    std::size_t cells;           // count * lanes
    double* out;
};

// The same read straight from the series: out[j * out_stride] = the cost of x_i against step j
// of y, for j < count.
struct StridedRow {
    const std::byte* x;  // x_i[0]; x_i[f] at x + f * x_step bytes
    std::ptrdiff_t x_step;
    const std::byte* y;  // y[0][0]; y[j][f] at y + j * y_row_step + f * y_step bytes
    std::ptrdiff_t y_row_step, y_step;
    std::size_t d, count;
    double* out;
    std::size_t out_stride;
};

struct Kernels {
    void (*from_features)(const FeatureRow&);
    void (*strided)(const StridedRow&);
};

template <class Isa>
Kernels make_table();

// The table of the process's target, chosen at first use (kernels.cpp).
const Kernels& kernels() noexcept;

}  // namespace rc::distances::cost
