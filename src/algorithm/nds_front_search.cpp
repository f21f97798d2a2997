// Longest-chain ranks of points in four or more objectives by front search: the points come
// in lexicographic order, so none is dominated by a later one, and each goes into the first
// front none of whose members dominates it, found by binary search over the fronts.
//
// If a front holds a dominator of a point, so does every earlier front (a dominator of that
// dominator), so the fronts with a dominator are a prefix: binary search finds the first
// without one. Fronts keep their members objective-major in blocks of vector lanes, and one
// point is compared with a whole block at once; each lane does the same comparisons on its
// own member, so the answer is the scalar one whatever the lane count.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>

#include "algorithm/nds_internal.hpp"

namespace rc::algorithm::nds {
namespace {

// Lanes of one block: 32 bytes of coordinates per column (two SSE2 registers at the x86-64
// baseline; GCC and Clang split the operations as the target needs).
constexpr std::size_t kBlockBytes = 16;

template <class T>
struct VectorOf;
template <>
struct VectorOf<std::uint16_t> {
    typedef std::uint16_t type __attribute__((vector_size(kBlockBytes)));
};
template <>
struct VectorOf<std::uint32_t> {
    typedef std::uint32_t type __attribute__((vector_size(kBlockBytes)));
};

template <class T>
struct Lanes {
    static constexpr std::size_t count = kBlockBytes / sizeof(T);
    using Vector = typename VectorOf<T>::type;
    // Unused lanes of a front's last block hold this: larger than every coordinate, so such a
    // lane is never <= the point in any column.
    static constexpr T padding = T(~T{0});
};

template <class T>
[[gnu::always_inline]] inline typename Lanes<T>::Vector load(const T* at) noexcept {
    typename Lanes<T>::Vector v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

// Whether any lane of a comparison result is set.
template <class Mask>
[[gnu::always_inline]] inline bool any_lane(Mask mask) noexcept {
    typedef std::uint64_t Words __attribute__((vector_size(kBlockBytes)));
    const auto w = reinterpret_cast<Words>(mask);
    return (w[0] | w[1]) != 0;
}

// The fronts built so far, each a chain of blocks in one shared pool. A block holds `dims`
// columns of Lanes<T>::count coordinates.
template <class T>
class FrontBlocks {
public:
    static constexpr std::size_t lanes = Lanes<T>::count;

    explicit FrontBlocks(std::size_t dims) : dims_(dims) {}

    std::size_t front_count() const noexcept { return fronts_.size(); }

    // Whether some member of front k is <= the point in every column. `point` holds the
    // point's coordinates in the order `columns` lists the columns (most selective first).
    bool dominated_by_front(std::size_t k, const T* point, const std::uint32_t* columns) const noexcept {
        using Vector = typename Lanes<T>::Vector;
        const std::size_t dims = dims_;
        for (std::uint32_t b = fronts_[k].head; b != kNone; b = next_[b]) {
            const T* block = pool_.data() + std::size_t{b} * dims * lanes;
            auto column_below = [&](std::size_t j) { return load(block + columns[j] * lanes) <= Vector{} + point[j]; };
            // Columns four at a time between the checks: most members fail in the first few,
            // and a branch per column would cost more than the comparisons it saves.
            auto alive = column_below(0);
            std::size_t j = 1;
            for (; j + 3 <= dims && any_lane(alive); j += 3)
                alive &= column_below(j) & column_below(j + 1) & column_below(j + 2);
            for (; j < dims; ++j) alive &= column_below(j);
            if (any_lane(alive)) return true;
        }
        return false;
    }

    // Appends a point (coordinates in column order) to front k, opening it if k is new.
    void add(std::size_t k, const T* coords) {
        if (k == fronts_.size()) fronts_.push_back(Front{kNone, kNone, lanes});
        Front& front = fronts_[k];
        if (front.fill == lanes) {
            const auto b = static_cast<std::uint32_t>(next_.size());
            next_.push_back(kNone);
            pool_.resize(pool_.size() + dims_ * lanes, Lanes<T>::padding);
            if (front.head == kNone) front.head = b;
            else next_[front.tail] = b;
            front.tail = b;
            front.fill = 0;
        }
        T* block = pool_.data() + std::size_t{front.tail} * dims_ * lanes;
        for (std::size_t j = 0; j < dims_; ++j) block[j * lanes + front.fill] = coords[j];
        ++front.fill;
    }

private:
    static constexpr std::uint32_t kNone = UINT32_MAX;
    struct Front {
        std::uint32_t head, tail;
        std::size_t fill;  // members in the tail block
    };
    std::size_t dims_;
    std::vector<Front> fronts_;
    std::vector<std::uint32_t> next_;  // the block after each block of its front
    std::vector<T> pool_;
};

template <class T>
std::vector<std::uint32_t> ranks_with(const std::vector<std::vector<std::uint32_t>>& columns, std::size_t count) {
    const std::size_t dims = columns.size();
    FrontBlocks<T> fronts(dims);
    std::vector<std::uint32_t> rank(count);
    std::vector<T> coords(dims), point(dims);
    std::vector<std::uint32_t> order(dims);
    for (std::size_t p = 0; p < count; ++p) {
        for (std::size_t j = 0; j < dims; ++j) coords[j] = static_cast<T>(columns[j][p]);
        // A member fails to dominate the point soonest in the columns where the point is
        // smallest: test those first.
        std::iota(order.begin(), order.end(), 0u);
        std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return coords[a] < coords[b]; });
        for (std::size_t j = 0; j < dims; ++j) point[j] = coords[order[j]];
        std::size_t lo = 0, hi = fronts.front_count();
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (fronts.dominated_by_front(mid, point.data(), order.data())) lo = mid + 1;
            else hi = mid;
        }
        rank[p] = static_cast<std::uint32_t>(lo);
        fronts.add(lo, coords.data());
    }
    return rank;
}

}  // namespace

std::vector<std::uint32_t> front_search_ranks(const std::vector<std::vector<std::uint32_t>>& columns,
                                              std::size_t count) {
    std::uint32_t largest = 0;
    for (const auto& column : columns)
        for (std::uint32_t v : column) largest = std::max(largest, v);
    // 16-bit coordinates double the lanes; the padding value must stay above every one.
    if (largest < Lanes<std::uint16_t>::padding) return ranks_with<std::uint16_t>(columns, count);
    return ranks_with<std::uint32_t>(columns, count);
}

}  // namespace rc::algorithm::nds
