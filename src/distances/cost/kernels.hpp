// The cost rows' plain data and their row in the kernel table (only types: the kernel is
// compiled once per instruction set).
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

struct Kernels {
    void (*from_features)(const FeatureRow&);
};

}  // namespace rc::distances::cost
