// Per-instruction-set kernels behind cdist_manhattan: several pairs (x, y[j]) summed in
// lock-step, one SIMD lane per pair. Plain pointers and byte strides only, so the files
// compiled for AVX2 / AVX-512 share no inline code with the baseline build.
#pragma once

#include <cstddef>

namespace rc::distances::manhattan_lanes {

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

// Each lane keeps the single running sum of manhattan_pair, in the same order, so a lane's
// result is bit for bit the scalar one. They fill out[j] for j below the returned count, a
// multiple of their vector width no larger than `pairs`; the caller finishes the rest.
// The AVX-512 kernel handles packed blocks only (its gathers are slower than AVX2's on some
// processors) and returns 0 for the others.
std::size_t sum_lanes_avx2(const Block& block, std::size_t pairs, double* out) noexcept;
std::size_t sum_lanes_avx512(const Block& block, std::size_t pairs, double* out) noexcept;

}  // namespace rc::distances::manhattan_lanes
