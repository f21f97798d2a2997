#include "distances/manhattan.hpp"

#include <cmath>
#include <cstdlib>
#include <string_view>

#include "distances/manhattan_lanes.hpp"
#include "distances/pairwise.hpp"

namespace rc::distances {
namespace {

enum class SimdPath { scalar, avx2, avx512 };

SimdPath best_supported_path() noexcept {
#if defined(__x86_64__)
    __builtin_cpu_init();
    // The AVX-512 kernels are compiled with F, DQ, VL and BW enabled, so all four are required;
    // the AVX-512 path also runs the AVX2 kernels for what it leaves.
    if (!__builtin_cpu_supports("avx2")) return SimdPath::scalar;
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw"))
        return SimdPath::avx512;
    return SimdPath::avx2;
#endif
    return SimdPath::scalar;
}

// The path used for the process: the best the processor supports, or a narrower one asked
// for through RC_SIMD=scalar|avx2|avx512 (read once) so that the paths can be compared. A
// request the processor cannot honour falls back to the best supported path below it.
SimdPath choose_path() noexcept {
    const SimdPath best = best_supported_path();
    const char* request = std::getenv("RC_SIMD");
    if (request == nullptr) return best;
    const std::string_view wanted(request);
    if (wanted == "scalar") return SimdPath::scalar;
    if (wanted == "avx2") return best == SimdPath::scalar ? SimdPath::scalar : SimdPath::avx2;
    return best;
}

SimdPath simd_path() noexcept {
    static const SimdPath path = choose_path();
    return path;
}

// The index failure for a y that does not cover x's non-empty index range.
void check_covers(const Series& x, const Series& y) {
    if (x.extent(0) == 0 || x.extent(1) == 0) return;
    if (y.extent(1) < x.extent(1) || y.extent(0) < x.extent(0)) fail_index_out_of_bounds();
}

// True when the elements [0, rows) x [0, cols) of a view with these strides form one run of
// packed doubles in row-major order.
bool packed_run(std::size_t rows, std::size_t cols, std::ptrdiff_t row_stride, std::ptrdiff_t col_stride) noexcept {
    constexpr auto element = static_cast<std::ptrdiff_t>(sizeof(double));
    return col_stride == element && (rows <= 1 || row_stride == static_cast<std::ptrdiff_t>(cols) * element);
}

[[maybe_unused]] manhattan_lanes::Block lanes_block(const Series& x, const SeriesSet& y) noexcept {
    const std::size_t rows = x.extent(0), cols = x.extent(1);
    const bool packed = packed_run(rows, cols, x.byte_stride(0), x.byte_stride(1)) &&
                        packed_run(rows, cols, y.byte_stride(1), y.byte_stride(2));
    return {x.data(), x.byte_stride(0), x.byte_stride(1),
            y.data(), y.byte_stride(0), y.byte_stride(1), y.byte_stride(2),
            rows, cols, packed};
}

}  // namespace

double manhattan_pair(const Series& x, const Series& y) {
    const std::size_t rows = x.extent(0), cols = x.extent(1);
    // A sweep in x's order would stop at the first row y lacks; since nothing summed before
    // that point is returned, checking both extents up front ends the same way.
    check_covers(x, y);
    double sum = 0.0;
    for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t c = 0; c < cols; ++c) sum += std::fabs(x(r, c) - y(r, c));
    return sum;
}

Matrix<double> cdist_manhattan(const SeriesSet& x, const SeriesSet& y) {
    [[maybe_unused]] const SimdPath path = simd_path();
    const std::size_t count = y.extent(0);
    return pairwise_rows(x.extent(0), count, [&](std::size_t i, double* row) {
        const Series xi = x[i];
        // Every series of y has the same shape, so one check decides for the whole row.
        check_covers(xi, y[0]);
        std::size_t done = 0;
#if defined(__x86_64__)
        if (!xi.empty() && path != SimdPath::scalar) {
            auto block = lanes_block(xi, y);
            if (path == SimdPath::avx512) done = manhattan_lanes::sum_lanes_avx512(block, count, row);
            block.y += static_cast<std::ptrdiff_t>(done) * block.y_series_stride;
            done += manhattan_lanes::sum_lanes_avx2(block, count - done, row + done);
        }
#endif
        for (std::size_t j = done; j < count; ++j) row[j] = manhattan_pair(xi, y[j]);
    });
}

}  // namespace rc::distances
