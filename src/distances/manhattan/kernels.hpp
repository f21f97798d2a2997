// The Manhattan kernels' plain data and kernel table (manhattan/table.hpp defines it per
// target): plain pointers and byte strides.
#pragma once

#include <cstddef>

namespace rc::distances::manhattan {

// One series x against consecutive series of a set y, all read through byte strides.
struct Block {
    const std::byte* x;
    std::ptrdiff_t x_row_stride, x_col_stride;
    const std::byte* y;  // element [0][0] of the first series of the block
    std::ptrdiff_t y_series_stride, y_row_stride, y_col_stride;
    std::size_t rows, cols;  // x's index range; every y series covers it
    // x and every y series hold the visited elements as one packed run of rows * cols doubles,
    // in the summation order, so lanes can be filled by plain loads and a transpose.
    bool packed;
};

struct Kernels {
    // The distance of x and the block's first series (in the default encoding's table).
    double (*one_pair)(const Block& block);
    // Fills out[j] = one_pair of x and y[j] bit for bit for j below the returned count (a
    // multiple of the vector width, at most `pairs`); null where pairs run one at a time.
    std::size_t (*sum_lanes)(const Block& block, std::size_t pairs, double* out);
};

template <class Isa>
Kernels make_table();

// The table of the process's target, chosen at first use (kernels.cpp).
const Kernels& kernels() noexcept;

}  // namespace rc::distances::manhattan
