// The pieces the front search is built from: a point prepared for searching, and the members
// of one front in blocks of vector lanes. Included only by search.cpp.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numeric>
#include <type_traits>
#include <vector>

#include "algorithm/nds/kernels.hpp"
#include "algorithm/nds/internal.hpp"

namespace rc::algorithm::nds::front {

// Columns ordered by the point's coordinates before a search; the others follow in any order.
inline constexpr std::size_t kOrderedColumns = 4;

// A dense rank as a signed coordinate, shifted down by half the range of S; the type's
// largest value stays free for padding (the caller checks the ranks fit).
template <class S>
S coordinate(std::uint32_t rank) noexcept {
    using U = std::make_unsigned_t<S>;
    return static_cast<S>(static_cast<U>(rank) ^ (U{1} << (8 * sizeof(S) - 1)));
}

// Point p's coordinates by column.
template <class S>
void coordinates_of(const PointColumns& all, std::size_t p, S* out) noexcept {
    for (std::size_t j = 0; j < all.dims; ++j) out[j] = coordinate<S>(all.at(j, p));
}

// The kernels of the chosen width for coordinates of type S.
template <class S>
struct Scan {
    std::size_t lanes;
    DominatorScan<S> holds_dominator;
    PrefixScan<S> first_hold_dominator;
    TreeSearch<S> tree_rank_below;
};

// The members of one front, objective-major in blocks of `lanes` (see kernels.hpp);
// contiguous, so a scan streams through it.
template <class S>
class Front {
public:
    bool has_dominator(const Scan<S>& scan, const S* point, const std::uint32_t* columns, std::size_t dims) const {
        return scan.holds_dominator(values_.data(), values_.size() / (dims * scan.lanes), point, columns, dims);
    }

    // Whether one of the first `k` members lies <= the point in every column.
    bool has_dominator_before(const Scan<S>& scan, std::size_t k, const S* point, const std::uint32_t* columns,
                              std::size_t dims) const {
        return scan.first_hold_dominator(values_.data(), k, point, columns, dims);
    }

    [[gnu::always_inline]] void add(std::size_t lanes, const S* coords, std::size_t dims) {
        const std::size_t lane = size_ % lanes;
        if (lane == 0) values_.resize(values_.size() + dims * lanes, std::numeric_limits<S>::max());
        S* block = values_.data() + values_.size() - dims * lanes;
        for (std::size_t j = 0; j < dims; ++j) block[j * lanes + lane] = coords[j];
        ++size_;
    }

    bool empty() const noexcept { return size_ == 0; }

    void clear() noexcept {
        values_.clear();
        size_ = 0;
    }

private:
    std::vector<S> values_;
    std::size_t size_ = 0;
};

// One point as the searches need it: its coordinates by column, and the same in the order of
// its columns from smallest to largest.
template <class S>
class Query {
public:
    Query(const Scan<S>& scan, std::size_t dims) : scan_(scan), coords_(dims), ordered_(dims), columns_(dims) {}

    [[gnu::always_inline]] void load_point(const PointColumns& all, std::size_t p) {
        const std::size_t dims = coords_.size();
        coordinates_of(all, p, coords_.data());
        // A member fails to dominate the point soonest in the columns where the point is
        // smallest: the few smallest go first, in order (the scan checks after the first
        // column and then after every three); the rest follow in any order.
        std::iota(columns_.begin(), columns_.end(), 0u);
        const std::size_t leading = std::min(kOrderedColumns, dims);
        for (std::size_t k = 0; k < leading; ++k) {
            std::size_t smallest = k;
            for (std::size_t j = k + 1; j < dims; ++j)
                if (coords_[columns_[j]] < coords_[columns_[smallest]]) smallest = j;
            std::swap(columns_[k], columns_[smallest]);
        }
        for (std::size_t j = 0; j < dims; ++j) ordered_[j] = coords_[columns_[j]];
    }

    bool dominated_by(const Front<S>& front) const {
        return front.has_dominator(scan_, ordered_.data(), columns_.data(), coords_.size());
    }

    // By one of the front's first `k` members.
    bool dominated_by_first(const Front<S>& front, std::size_t k) const {
        return front.has_dominator_before(scan_, k, ordered_.data(), columns_.data(), coords_.size());
    }

    const S* coords() const noexcept { return coords_.data(); }
    const S* ordered() const noexcept { return ordered_.data(); }
    const std::uint32_t* columns() const noexcept { return columns_.data(); }

private:
    const Scan<S>& scan_;
    std::vector<S> coords_;
    std::vector<S> ordered_;  // coords_ in the order of columns_
    std::vector<std::uint32_t> columns_;
};

}  // namespace rc::algorithm::nds::front
