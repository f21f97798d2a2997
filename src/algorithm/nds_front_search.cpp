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
#include <limits>
#include <type_traits>
#include <numeric>
#include <vector>

#include "algorithm/nds_internal.hpp"

namespace rc::algorithm::nds {
namespace {

// Lanes of one block: one 16-byte vector per column, the width of the x86-64 baseline.
constexpr std::size_t kBlockBytes = 16;

// Coordinates are stored signed, shifted down by half their range, because the baseline has
// a one-instruction signed greater-than but no unsigned one.
template <class S>
struct VectorOf;
template <>
struct VectorOf<std::int16_t> {
    typedef std::int16_t type __attribute__((vector_size(kBlockBytes)));
};
template <>
struct VectorOf<std::int32_t> {
    typedef std::int32_t type __attribute__((vector_size(kBlockBytes)));
};

template <class S>
struct Lanes {
    static constexpr std::size_t count = kBlockBytes / sizeof(S);
    using Vector = typename VectorOf<S>::type;
    // Unused lanes of a front's last block hold this: above every coordinate, so such a lane
    // never lies <= the point in a column.
    static constexpr S padding = std::numeric_limits<S>::max();
    static S from_rank(std::uint32_t rank) noexcept {
        using U = std::make_unsigned_t<S>;
        return static_cast<S>(static_cast<U>(rank) ^ (U{1} << (8 * sizeof(S) - 1)));
    }
};

template <class S>
[[gnu::always_inline]] inline typename Lanes<S>::Vector load(const S* at) noexcept {
    typename Lanes<S>::Vector v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

// Whether every lane of a comparison result is set.
template <class Mask>
[[gnu::always_inline]] inline bool all_lanes(Mask mask) noexcept {
    typedef std::uint64_t Words __attribute__((vector_size(kBlockBytes)));
    const auto w = reinterpret_cast<Words>(mask);
    return (w[0] & w[1]) == ~std::uint64_t{0};
}

// The fronts built so far, each a chain of blocks in one shared pool. A block holds `dims`
// columns of Lanes<S>::count coordinates.
template <class S>
class FrontBlocks {
public:
    static constexpr std::size_t lanes = Lanes<S>::count;
    using Vector = typename Lanes<S>::Vector;

    explicit FrontBlocks(std::size_t dims) : dims_(dims) {}

    std::size_t front_count() const noexcept { return fronts_.size(); }

    // Whether some member of front k is <= the point in every column. `point[j]` holds the
    // point's coordinate in column `columns[j]` in every lane (most selective column first).
    bool dominated_by_front(std::size_t k, const Vector* point, const std::uint32_t* columns) const noexcept {
        const std::size_t dims = dims_;
        for (std::uint32_t b = fronts_[k].head; b != kNone; b = next_[b]) {
            const S* block = pool_.data() + std::size_t{b} * dims * lanes;
            auto above = [&](std::size_t j) { return load(block + columns[j] * lanes) > point[j]; };
            // A lane fails once its member is above the point in one column. Columns go three
            // at a time between the checks: most members fail in the first few, and a branch
            // per column would cost more than the comparisons it saves.
            auto failed = above(0);
            for (std::size_t j = 1;; j += 3) {
                if (all_lanes(failed)) break;
                if (j >= dims) return true;
                failed |= above(j);
                if (j + 1 < dims) failed |= above(j + 1);
                if (j + 2 < dims) failed |= above(j + 2);
            }
        }
        return false;
    }

    // Appends a point (coordinates by column) to front k, opening it if k is new.
    void add(std::size_t k, const S* coords) {
        if (k == fronts_.size()) fronts_.push_back(Front{kNone, kNone, lanes});
        Front& front = fronts_[k];
        if (front.fill == lanes) {
            const auto b = static_cast<std::uint32_t>(next_.size());
            next_.push_back(kNone);
            pool_.resize(pool_.size() + dims_ * lanes, Lanes<S>::padding);
            if (front.head == kNone) front.head = b;
            else next_[front.tail] = b;
            front.tail = b;
            front.fill = 0;
        }
        S* block = pool_.data() + std::size_t{front.tail} * dims_ * lanes;
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
    std::vector<S> pool_;
};

template <class S>
std::vector<std::uint32_t> ranks_with(const std::vector<std::vector<std::uint32_t>>& columns, std::size_t count) {
    using Vector = typename Lanes<S>::Vector;
    const std::size_t dims = columns.size();
    FrontBlocks<S> fronts(dims);
    std::vector<std::uint32_t> rank(count);
    std::vector<S> coords(dims);
    std::vector<Vector> point(dims);
    std::vector<std::uint32_t> order(dims);
    for (std::size_t p = 0; p < count; ++p) {
        for (std::size_t j = 0; j < dims; ++j) coords[j] = Lanes<S>::from_rank(columns[j][p]);
        // A member fails to dominate the point soonest in the columns where the point is
        // smallest: test those first.
        std::iota(order.begin(), order.end(), 0u);
        std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return coords[a] < coords[b]; });
        for (std::size_t j = 0; j < dims; ++j) point[j] = Vector{} + coords[order[j]];
        std::size_t lo = 0, hi = fronts.front_count();
        while (lo < hi) {
            // The lower middle: with two fronts left the earlier one is probed first, which
            // settles the point at once whenever it belongs there.
            const std::size_t mid = lo + (hi - lo - 1) / 2;
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
    if (largest < UINT16_MAX) return ranks_with<std::int16_t>(columns, count);
    return ranks_with<std::int32_t>(columns, count);
}

}  // namespace rc::algorithm::nds
