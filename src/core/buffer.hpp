// Owned results of kernels. A Buffer is handed over to NumPy as the storage of the returned
// array without a copy, so it is allocated with malloc and released by whoever owns it last.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

#include "platform/fault_injection.hpp"
#include "core/kernel_failure.hpp"

namespace rc {

// a * b, or a kernel failure when the product does not fit a size_t.
inline std::size_t checked_mul(std::size_t a, std::size_t b) {
    std::size_t product;
    if (__builtin_mul_overflow(a, b, &product)) fail("capacity overflow");
    return product;
}

// Large buffers are mostly written once from start to end, so their cost is page faults: this
// asks for transparent huge pages over the whole pages inside [data, data + bytes), as NumPy
// does for its large arrays. Only advice; failures are ignored.
void advise_huge_pages(void* data, std::size_t bytes) noexcept;

inline std::size_t checked_add(std::size_t a, std::size_t b) {
    std::size_t sum;
    if (__builtin_add_overflow(a, b, &sum)) fail("capacity overflow");
    return sum;
}

// The byte count of n elements of `size` bytes, refused up front when it could never be held:
// more than the machine's memory and swap together is std::bad_alloc (MemoryError), a count
// that overflows is a kernel failure. An overcommitting system may well grant such a request
// and kill the process once the pages are touched, and an instrumented allocator aborts on it,
// so every allocation sized by an input passes here first.
std::size_t allocatable_bytes(std::size_t n, std::size_t size);

// n, once n elements of T have passed allocatable_bytes: the size for a container.
template <class T>
std::size_t allocatable_count(std::size_t n) {
    allocatable_bytes(n, sizeof(T));
    return n;
}

template <class T>
class Buffer {
public:
    Buffer() = default;

    // Storage for n elements, not initialised. Sizes whose byte count overflows are a kernel
    // failure; an allocation the system refuses is std::bad_alloc (MemoryError in Python).
    static Buffer uninitialized(std::size_t n) {
        const std::size_t bytes = allocatable_bytes(n, sizeof(T));
        // Never zero bytes: NumPy needs a real address even for an empty array.
        void* p = fault::allocation_fails() ? nullptr : std::malloc(bytes == 0 ? 1 : bytes);
        if (p == nullptr) throw std::bad_alloc();
        advise_huge_pages(p, bytes);
        Buffer b;
        b.data_.reset(static_cast<T*>(p));
        b.size_ = n;
        return b;
    }

    static Buffer filled(std::size_t n, T value) {
        Buffer b = uninitialized(n);
        for (std::size_t i = 0; i < n; ++i) b.data_.get()[i] = value;
        return b;
    }

    std::size_t size() const noexcept { return size_; }
    std::size_t bytes() const noexcept { return size_ * sizeof(T); }
    T* data() noexcept { return data_.get(); }
    const T* data() const noexcept { return data_.get(); }
    T& operator[](std::size_t i) noexcept { return data_.get()[i]; }
    const T& operator[](std::size_t i) const noexcept { return data_.get()[i]; }
    T* begin() noexcept { return data(); }
    T* end() noexcept { return data() + size_; }
    const T* begin() const noexcept { return data(); }
    const T* end() const noexcept { return data() + size_; }

    // Gives up ownership; the caller frees the memory with std::free.
    T* release() noexcept {
        size_ = 0;
        return data_.release();
    }

private:
    struct Free {
        void operator()(T* p) const noexcept { std::free(p); }
    };
    std::unique_ptr<T, Free> data_;
    std::size_t size_ = 0;
};

// A row-major matrix: element [i][j] is values[i * cols + j].
template <class T>
struct Matrix {
    Buffer<T> values;
    std::size_t rows = 0;
    std::size_t cols = 0;

    static Matrix uninitialized(std::size_t rows, std::size_t cols) {
        return Matrix{Buffer<T>::uninitialized(checked_mul(rows, cols)), rows, cols};
    }
    static Matrix filled(std::size_t rows, std::size_t cols, T value) {
        return Matrix{Buffer<T>::filled(checked_mul(rows, cols), value), rows, cols};
    }
    T* row(std::size_t i) noexcept { return values.data() + i * cols; }
    const T* row(std::size_t i) const noexcept { return values.data() + i * cols; }
    T& operator()(std::size_t i, std::size_t j) noexcept { return values[i * cols + j]; }
    const T& operator()(std::size_t i, std::size_t j) const noexcept { return values[i * cols + j]; }
};

}  // namespace rc
