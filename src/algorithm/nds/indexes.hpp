// The two indexes of placed points that the front search ranks a point against: front lists
// and a k-d tree (see search.cpp). Included only by search.cpp.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numeric>
#include <utility>
#include <vector>

#include "algorithm/nds/kernels.hpp"
#include "algorithm/nds/query.hpp"
#include "pool/worker_pool.hpp"

namespace rc::algorithm::nds::front {

// The fronts as lists of members: the rank of a point is the first front holding no
// dominator of it, found by binary search over the fronts.
template <class S>
class FrontLists {
public:
    static constexpr bool kTree = false;

    FrontLists(const PointColumns& columns, std::size_t, const Scan<S>& scan, std::size_t /*workers*/ = 1)
        : dims_(columns.dims), lanes_(scan.lanes) {}

    std::size_t rank_of(const Query<S>& query) const { return first_free_from(query, 0); }

    // The point's rank where it exceeds `least`, else `least`. Front `least` is probed first:
    // when it holds no dominator, no later front does, and the answer is found in one scan.
    std::size_t rank_at_least(const Query<S>& query, std::size_t least) const {
        if (least >= fronts_.size() || !query.dominated_by(fronts_[least])) return least;
        return first_free_from(query, least + 1);
    }

    // Every rank is at most the number of fronts: the point's dominators were placed before.
    // `coords`: the point's coordinates by column.
    [[gnu::always_inline]] void place(std::size_t, std::size_t rank, const S* coords) {
        if (rank == fronts_.size()) fronts_.emplace_back();
        fronts_[rank].add(lanes_, coords, dims_);
    }

private:
    // The first front from `lo` on holding no dominator of the point, by binary search.
    std::size_t first_free_from(const Query<S>& query, std::size_t lo) const {
        std::size_t hi = fronts_.size();
        while (lo < hi) {
            // The lower middle: with two fronts left the earlier one is probed first, which
            // settles the point at once whenever it belongs there.
            const std::size_t mid = lo + (hi - lo - 1) / 2;
            if (query.dominated_by(fronts_[mid])) lo = mid + 1;
            else hi = mid;
        }
        return lo;
    }

    std::size_t dims_, lanes_;
    std::vector<Front<S>> fronts_;
};

// All points in a static k-d tree, built before any is ranked; a node keeps the box of its
// points already placed and the highest rank among them. The rank of a point is one more than
// the highest rank placed <= it in every column (a dominator in the front before the point's
// own, and none in that front), found by descending only into nodes whose placed points can
// include such a point with a higher rank than the best so far (the tree kernel). Bounding only
// the placed points, which all come before the point in the order, leaves out the later points
// around it: with one wide front a search rarely leaves the few nodes next to the point.
template <class S>
class RankTree {
public:
    static constexpr bool kTree = true;
    // A leaf holds 64 bytes of each column (32 points of 16 bits, 16 of 32), in whole blocks
    // of lanes: with AVX-512's 16 lanes of 32 bits, 16 points measured 0.77-0.97 of 32's time
    // at 100,000 x 8, and the same at 100,000 x 4.
    static constexpr std::size_t kLeafPoints = 64 / sizeof(S);
    static constexpr std::size_t kBoxLanes = kTreeBoxBytes / sizeof(S);

    // Built on `workers` workers of the pool when more than one (the same tree either way).
    RankTree(const PointColumns& columns, std::size_t count, const Scan<S>& scan, std::size_t workers = 1)
        : dims_(columns.dims), width_((dims_ + kBoxLanes - 1) / kBoxLanes * kBoxLanes), lanes_(scan.lanes),
          leaf_blocks_(std::max<std::size_t>(1, kLeafPoints / scan.lanes)), search_(scan.tree_rank_below),
          columns_(columns), node_of_point_(count), lane_of_point_(count) {
        std::vector<std::uint32_t> points(count);
        std::iota(points.begin(), points.end(), 0u);
        Range range;
        for (std::size_t j = 0; j < dims_; ++j) {
            range[2 * j] = UINT32_MAX;
            range[2 * j + 1] = 0;
            for (std::size_t p = 0; p < count; ++p) {
                range[2 * j] = std::min(range[2 * j], columns.at(j, p));
                range[2 * j + 1] = std::max(range[2 * j + 1], columns.at(j, p));
            }
        }
        // The shape depends on the count alone, so every array is sized before the build. New
        // nodes hold no placed point: their boxes are empty (lowest above highest), padding
        // columns the smallest value in both bounds.
        const std::size_t leaf_lanes = leaf_points();
        top_.assign(last_node(0, count) + std::size_t{1}, -1);
        leaf_of_node_.assign(top_.size(), kInner);
        boxes_.assign(top_.size() * 2 * width_, std::numeric_limits<S>::min());
        for (std::size_t k = 0; k < top_.size(); ++k)
            std::fill_n(boxes_.data() + k * 2 * width_, dims_, std::numeric_limits<S>::max());
        const std::size_t leaves = leaves_of(count);
        leaf_ranks_.assign(leaves * leaf_lanes, -1);
        leaf_values_.assign(leaves * dims_ * leaf_lanes, std::numeric_limits<S>::max());
        std::vector<std::uint64_t> keys(count);
        if (workers <= 1) {
            build(0, points.data(), keys.data(), count, range, 0);
            return;
        }
        // The top levels split here, one subtree below them per worker (rounded up to a power
        // of two), and the subtrees are built side by side.
        std::vector<Subtree> subtrees;
        const auto depth = std::min<unsigned>(kPlaceDepth, std::bit_width(workers - 1));
        split_down(0, 0, points.data(), keys.data(), count, range, 0, depth, subtrees);
        pool::parallel_for(subtrees.size(), [&](std::size_t begin, std::size_t end) {
            for (std::size_t t = begin; t < end; ++t) {
                const Subtree& sub = subtrees[t];
                build(sub.node, points.data() + sub.begin, keys.data() + sub.begin, sub.count, sub.range,
                      sub.first_leaf);
            }
        });
    }

    // One more than the highest rank placed <= the point, 0 if none.
    std::size_t rank_of(const Query<S>& query) const { return rank_at_least(query, 0); }

    // The same where it exceeds `least`, else `least`: nodes whose ranks all lie below
    // `least` are not entered.
    std::size_t rank_at_least(const Query<S>& query, std::size_t least) const {
        S coords[kTreeMaxDims];
        std::copy(query.coords(), query.coords() + dims_, coords);
        std::fill(coords + dims_, coords + width_, std::numeric_limits<S>::max());
        const RankTreeView<S> view{boxes_.data(), top_.data(), leaf_of_node_.data(), leaf_values_.data(),
                                   leaf_ranks_.data(), dims_, width_, leaf_blocks_};
        const auto known = static_cast<std::int32_t>(least) - 1;
        return static_cast<std::size_t>(search_(view, coords, query.ordered(), query.columns(), known) + 1);
    }

    // A batch can be placed in parts, side by side: the kParts subtrees kPlaceDepth splits
    // below the root. Each part takes the batch's points below it, their walks up ending at its
    // root, and then the nodes above the parts take their children's boxes and ranks. The tree
    // must have split that deep: a node splits when it holds more than a leaf's points (at most
    // kMaxLeafPoints: 64 bytes of a column, or one block of lanes), and a node above the parts
    // holds at least count / 2^(kPlaceDepth - 1) points.
    static constexpr unsigned kPlaceDepth = 3;
    static constexpr std::size_t kParts = std::size_t{1} << kPlaceDepth;
    static constexpr std::size_t kMaxLeafPoints = 64;
    static constexpr bool splits_into_parts(std::size_t count) noexcept {
        return count / (kParts / 2) > kMaxLeafPoints;
    }

    std::size_t part_of(std::size_t p) const noexcept {
        const std::uint32_t node = node_of_point_[p];
        const int depth = std::bit_width(node + 1) - 1;
        return ((node + 1) >> (depth - static_cast<int>(kPlaceDepth))) - kParts;
    }

    void place_in_part(std::size_t p, std::size_t rank, std::size_t part) {
        S coords[kTreeMaxDims];
        coordinates_of(columns_, p, coords);
        place(p, rank, coords, static_cast<std::uint32_t>(kParts - 1 + part));
    }

    void cover_parts() {
        for (auto node = static_cast<std::uint32_t>(kParts - 1); node-- > 0;) {
            S* low = boxes_.data() + std::size_t{node} * 2 * width_;
            S* high = low + width_;
            for (const std::uint32_t child : {2 * node + 1, 2 * node + 2}) {
                const S* child_low = boxes_.data() + std::size_t{child} * 2 * width_;
                for (std::size_t j = 0; j < dims_; ++j) {
                    low[j] = std::min(low[j], child_low[j]);
                    high[j] = std::max(high[j], child_low[width_ + j]);
                }
                top_[node] = std::max(top_[node], top_[child]);
            }
        }
    }

    // The point's rank goes to its leaf lane, and its rank and coordinates into the node boxes
    // from its leaf up, as far as they change anything (a node's box and rank hold its
    // children's, so above a node that already covered the point every node does) and at
    // most to `stop`.
    void place(std::size_t p, std::size_t rank, const S* coords, std::uint32_t stop = 0) {
        const auto r = static_cast<std::int32_t>(rank);
        std::uint32_t node = node_of_point_[p];
        leaf_ranks_[std::size_t{leaf_of_node_[node]} * leaf_points() + lane_of_point_[p]] = r;
        for (;;) {
            bool changed = r > top_[node];
            top_[node] = std::max(top_[node], r);
            S* low = boxes_.data() + std::size_t{node} * 2 * width_;
            S* high = low + width_;
            for (std::size_t j = 0; j < dims_; ++j) {
                changed |= coords[j] < low[j] || coords[j] > high[j];
                low[j] = std::min(low[j], coords[j]);
                high[j] = std::max(high[j], coords[j]);
            }
            if (!changed || node == stop) break;
            node = (node - 1) / 2;
        }
    }

private:
    static constexpr std::uint32_t kInner = RankTreeView<S>::kInnerNode;

    // Points (lanes) a leaf holds; a node with more splits.
    std::size_t leaf_points() const noexcept { return leaf_blocks_ * lanes_; }

    // Each column's lowest and highest value, or bounds on them.
    using Range = std::array<std::uint32_t, 2 * kTreeMaxDims>;

    // The nodes and leaves a subtree of n points takes: a node splits when it holds more than
    // a leaf's points, into n / 2 and the rest.
    std::size_t leaves_of(std::size_t n) const noexcept {
        return n <= leaf_points() ? 1 : leaves_of(n / 2) + leaves_of(n - n / 2);
    }
    std::uint32_t last_node(std::uint32_t node, std::size_t n) const noexcept {
        if (n <= leaf_points()) return node;
        return std::max(last_node(2 * node + 1, n / 2), last_node(2 * node + 2, n - n / 2));
    }

    // Splits points[0 .. n) at the median of the column in which they spread most by `range`
    // (exact at the root, then narrowed by the splits above): the lower half first, the n / 2
    // smallest by (coordinate, point). Returns the halves' ranges. `keys` is scratch, room for n.
    std::pair<Range, Range> split(std::uint32_t* points, std::uint64_t* keys, std::size_t n, const Range& range) const {
        std::size_t widest = 0;
        for (std::size_t j = 1; j < dims_; ++j)
            if (range[2 * j + 1] - range[2 * j] > range[2 * widest + 1] - range[2 * widest]) widest = j;
        // (coordinate, point) pairs packed in one integer: the coordinates are read once per level
        // instead of at every comparison.
        std::uint64_t smallest = UINT64_MAX, largest = 0;
        for (std::size_t i = 0; i < n; ++i) {
            keys[i] = std::uint64_t{columns_.at(widest, points[i])} << 32 | points[i];
            smallest = std::min(smallest, keys[i]);
            largest = std::max(largest, keys[i]);
        }
        const auto low = static_cast<std::uint32_t>(smallest >> 32);
        const auto spread = static_cast<std::uint32_t>(largest >> 32) - low;
        const std::uint64_t median = spread < kCountingSpread * n ? median_by_counting(keys, n, low, spread)
                                                                  : median_by_selection(keys, n);
        // The halves in the keys' order within each (any order would do), without a branch: which
        // half a key goes to is a coin toss.
        std::size_t lower = 0, upper = n / 2;
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t goes_low = keys[i] < median;
            points[goes_low ? lower : upper] = static_cast<std::uint32_t>(keys[i]);
            lower += goes_low;
            upper += 1 - goes_low;
        }
        std::pair<Range, Range> halves{range, range};
        halves.first[2 * widest + 1] = halves.second[2 * widest] = static_cast<std::uint32_t>(median >> 32);
        return halves;
    }

    // The columns hold dense ranks, so a node's coordinates in a column mostly lie in a range not
    // much wider than its points, and counting them finds the median in two passes where a
    // selection takes several; where they spread wider (spread >= kCountingSpread * n) the
    // selection.
    static constexpr std::size_t kCountingSpread = 16;

    // The key of rank n / 2 among keys[0 .. n) (the upper half's smallest); reorders the keys.
    static std::uint64_t median_by_selection(std::uint64_t* keys, std::size_t n) {
        std::nth_element(keys, keys + n / 2, keys + n);
        return keys[n / 2];
    }

    // The same from a count of the coordinates, from low to low + spread: the median's
    // coordinate is the first whose count takes the keys below it past n / 2, and its point the
    // one of that rank among the points with that coordinate.
    static std::uint64_t median_by_counting(const std::uint64_t* keys, std::size_t n, std::uint32_t low,
                                            std::uint32_t spread) {
        std::vector<std::uint32_t> count(std::size_t{spread} + 1);
        for (std::size_t i = 0; i < n; ++i) ++count[(keys[i] >> 32) - low];
        std::size_t below = 0, c = 0;
        while (below + count[c] <= n / 2) below += count[c++];
        const std::uint64_t coordinate = std::uint64_t{low + static_cast<std::uint32_t>(c)} << 32;
        std::vector<std::uint64_t> ties;
        ties.reserve(count[c]);
        for (std::size_t i = 0; i < n; ++i)
            if ((keys[i] & ~std::uint64_t{UINT32_MAX}) == coordinate) ties.push_back(keys[i]);
        const std::size_t rank = n / 2 - below;
        std::nth_element(ties.begin(), ties.begin() + static_cast<std::ptrdiff_t>(rank), ties.end());
        return ties[rank];
    }

    // Node `node` over points[0 .. n): a leaf (numbered `first_leaf`), or two halves, the
    // leaves numbered in order from the lower half's. Returns the number of leaves.
    std::size_t build(std::uint32_t node, std::uint32_t* points, std::uint64_t* keys, std::size_t n,
                      const Range& range, std::size_t first_leaf) {
        if (n <= leaf_points()) {
            build_leaf(node, points, n, first_leaf);
            return 1;
        }
        const auto [lower, upper] = split(points, keys, n, range);
        const std::size_t half = n / 2;
        const std::size_t leaves = build(2 * node + 1, points, keys, half, lower, first_leaf);
        return leaves + build(2 * node + 2, points + half, keys + half, n - half, upper, first_leaf + leaves);
    }

    // A subtree left to build: its root, its points (from `begin` of the points), range and
    // first leaf.
    struct Subtree {
        std::uint32_t node;
        std::size_t begin, count;
        Range range;
        std::size_t first_leaf;
    };

    // Splits as build does down to `depth` levels below `node` and lists the subtrees there.
    void split_down(std::uint32_t node, std::size_t begin, std::uint32_t* points, std::uint64_t* keys, std::size_t n,
                    const Range& range, std::size_t first_leaf, unsigned depth, std::vector<Subtree>& out) {
        if (depth == 0 || n <= leaf_points()) {
            out.push_back({node, begin, n, range, first_leaf});
            return;
        }
        const auto [lower, upper] = split(points, keys, n, range);
        const std::size_t half = n / 2;
        split_down(2 * node + 1, begin, points, keys, half, lower, first_leaf, depth - 1, out);
        split_down(2 * node + 2, begin + half, points + half, keys + half, n - half, upper,
                   first_leaf + leaves_of(half), depth - 1, out);
    }

    void build_leaf(std::uint32_t node, const std::uint32_t* points, std::size_t n, std::size_t leaf) {
        leaf_of_node_[node] = static_cast<std::uint32_t>(leaf);
        for (std::size_t i = 0; i < n; ++i) {
            node_of_point_[points[i]] = node;
            lane_of_point_[points[i]] = static_cast<std::uint32_t>(i);
            S* block = leaf_values_.data() + (leaf * leaf_blocks_ + i / lanes_) * dims_ * lanes_;
            for (std::size_t j = 0; j < dims_; ++j)
                block[j * lanes_ + i % lanes_] = coordinate<S>(columns_.at(j, points[i]));
        }
    }

    std::size_t dims_, width_, lanes_, leaf_blocks_;
    TreeSearch<S> search_;
    const PointColumns& columns_;
    std::vector<S> boxes_;                  // per node: lowest coordinates, then highest
    std::vector<std::int32_t> top_;         // per node: highest rank placed below it, -1 if none
    std::vector<std::uint32_t> leaf_of_node_;
    std::vector<S> leaf_values_;            // per leaf: leaf_blocks_ blocks of lanes
    std::vector<std::int32_t> leaf_ranks_;  // per leaf lane: its point's rank, -1 until placed
    std::vector<std::uint32_t> node_of_point_, lane_of_point_;
};

}  // namespace rc::algorithm::nds::front
