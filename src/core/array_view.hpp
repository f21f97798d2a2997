// The one way kernels read input: a read-only strided view over memory they do not own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/kernel_failure.hpp"

namespace rc {

// The T stored at any byte address. memcpy is a plain load on x86-64 and aarch64 and stays well
// defined for unaligned data and strides that are not a multiple of the element size.
template <class T>
[[gnu::always_inline]] inline T load_at(const std::byte* p) noexcept {
    T value;
    std::memcpy(&value, p, sizeof(T));
    return value;
}

// Element [i0, i1, ...] lives at data + sum(ik * byte_stride[k]). Strides are kept in bytes,
// not elements, so every layout NumPy can describe is read exactly as NumPy indexes it (C or
// Fortran order, slices, negative steps, even strides that are not a multiple of the element
// size). Loads go through load_at.
template <class T, std::size_t N>
class ArrayView {
public:
    using Shape = std::array<std::size_t, N>;
    using Strides = std::array<std::ptrdiff_t, N>;

    ArrayView() = default;
    ArrayView(const std::byte* data, const Shape& shape, const Strides& byte_strides) noexcept
        : data_(data), shape_(shape), strides_(byte_strides) {}

    // A view over contiguous row-major memory, for callers outside Python (tests, benchmarks).
    static ArrayView row_major(const T* data, const Shape& shape) noexcept {
        Strides strides{};
        std::ptrdiff_t step = sizeof(T);
        for (std::size_t axis = N; axis-- > 0;) {
            strides[axis] = step;
            step *= static_cast<std::ptrdiff_t>(shape[axis]);
        }
        return ArrayView(reinterpret_cast<const std::byte*>(data), shape, strides);
    }

    std::size_t extent(std::size_t axis) const noexcept { return shape_[axis]; }
    const Shape& shape() const noexcept { return shape_; }
    std::ptrdiff_t byte_stride(std::size_t axis) const noexcept { return strides_[axis]; }
    const std::byte* data() const noexcept { return data_; }
    bool empty() const noexcept {
        for (auto e : shape_) if (e == 0) return true;
        return false;
    }

    // Unchecked access: the caller has established the indices are in range.
    template <class... I>
    T operator()(I... index) const noexcept {
        static_assert(sizeof...(I) == N);
        return load(address(static_cast<std::size_t>(index)...));
    }

    // Checked access: an index outside the array is a kernel failure.
    template <class... I>
    T at(I... index) const {
        static_assert(sizeof...(I) == N);
        std::size_t idx[] = {static_cast<std::size_t>(index)...};
        for (std::size_t k = 0; k < N; ++k)
            if (idx[k] >= shape_[k]) fail_index_out_of_bounds();
        return load(address(static_cast<std::size_t>(index)...));
    }

    // The sub-view with the first index fixed ([i, ...] in NumPy terms). Checked.
    ArrayView<T, N - 1> operator[](std::size_t i) const requires(N > 1) {
        if (i >= shape_[0]) fail_index_out_of_bounds();
        typename ArrayView<T, N - 1>::Shape shape;
        typename ArrayView<T, N - 1>::Strides strides;
        for (std::size_t k = 1; k < N; ++k) {
            shape[k - 1] = shape_[k];
            strides[k - 1] = strides_[k];
        }
        return ArrayView<T, N - 1>(data_ + static_cast<std::ptrdiff_t>(i) * strides_[0], shape, strides);
    }

    // Address of an element, for kernels that read a contiguous run themselves.
    template <class... I>
    const std::byte* address(I... index) const noexcept {
        std::size_t idx[] = {static_cast<std::size_t>(index)...};
        std::ptrdiff_t offset = 0;
        for (std::size_t k = 0; k < N; ++k) offset += static_cast<std::ptrdiff_t>(idx[k]) * strides_[k];
        return data_ + offset;
    }

    static T load(const std::byte* p) noexcept { return load_at<T>(p); }

private:
    const std::byte* data_ = nullptr;
    Shape shape_{};
    Strides strides_{};
};

using Series = ArrayView<double, 2>;     // one row per time step, one column per feature
using SeriesSet = ArrayView<double, 3>;  // n series of equal shape (n, steps, features)
using VectorView = ArrayView<double, 1>;
using MatrixView = ArrayView<double, 2>;
using IndexView = ArrayView<std::int64_t, 1>;

}  // namespace rc
