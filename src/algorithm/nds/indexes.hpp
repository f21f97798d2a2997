// The two indexes of placed points that the front search ranks a point against: front lists
// and a k-d tree (see search.cpp). Included only by search.cpp.
#pragma once

#include <algorithm>
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

    FrontLists(const PointColumns&, std::size_t, const Scan<S>&, bool /*on_pool*/ = false) {}

    std::size_t rank_of(const Query<S>& query) const {
        std::size_t lo = 0, hi = fronts_.size();
        while (lo < hi) {
            // The lower middle: with two fronts left the earlier one is probed first, which
            // settles the point at once whenever it belongs there.
            const std::size_t mid = lo + (hi - lo - 1) / 2;
            if (query.dominated_by(fronts_[mid])) lo = mid + 1;
            else hi = mid;
        }
        return lo;
    }

    // Every rank is at most the number of fronts: the point's dominators were placed before.
    void place(std::size_t, std::size_t rank, const Query<S>& query) {
        if (rank == fronts_.size()) fronts_.emplace_back();
        query.add_to(fronts_[rank]);
    }

private:
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

    // With `on_pool`, the subtrees below the first few splits are built on the worker pool.
    RankTree(const PointColumns& columns, std::size_t count, const Scan<S>& scan, bool on_pool = false)
        : dims_(columns.dims), width_((dims_ + kBoxLanes - 1) / kBoxLanes * kBoxLanes), lanes_(scan.lanes),
          leaf_blocks_(std::max<std::size_t>(1, kLeafPoints / scan.lanes)), search_(scan.tree_rank_below),
          columns_(columns), node_of_point_(count), lane_of_point_(count) {
        std::vector<std::uint32_t> points(count);
        std::iota(points.begin(), points.end(), 0u);
        Split root{0, 0, count, 0, {}};
        for (std::size_t j = 0; j < dims_; ++j) {
            root.range[2 * j] = UINT32_MAX;
            root.range[2 * j + 1] = 0;
            for (std::size_t p = 0; p < count; ++p) {
                root.range[2 * j] = std::min(root.range[2 * j], columns.at(j, p));
                root.range[2 * j + 1] = std::max(root.range[2 * j + 1], columns.at(j, p));
            }
        }
        allocate(count);
        std::vector<std::uint64_t> keys(count);
        if (!on_pool || pool::worker_count() < 2) {
            build(root, points.data(), keys.data());
            return;
        }
        // Split on this thread until each part is small enough for a few per worker, then
        // build the parts on the pool: each writes only its own nodes, leaves, points and keys.
        std::vector<Split> pending{root}, parts;
        while (!pending.empty()) {
            const Split split = pending.back();
            pending.pop_back();
            if (split.n <= leaf_lanes() || split.n < count / (4 * pool::worker_count())) {
                parts.push_back(split);
                continue;
            }
            const auto [low, high] = halves(split, points.data(), keys.data());
            pending.push_back(high);
            pending.push_back(low);
        }
        pool::parallel_for(parts.size(), [&](std::size_t begin, std::size_t end) {
            for (std::size_t t = begin; t < end; ++t) build(parts[t], points.data(), keys.data());
        });
    }

    std::size_t rank_of(const Query<S>& query) const {
        S coords[kTreeMaxDims];
        std::copy(query.coords(), query.coords() + dims_, coords);
        std::fill(coords + dims_, coords + width_, std::numeric_limits<S>::max());
        const RankTreeView<S> view{boxes_.data(), top_.data(), leaf_of_node_.data(), leaf_values_.data(),
                                   leaf_ranks_.data(), dims_, width_, leaf_blocks_};
        return static_cast<std::size_t>(search_(view, coords, query.ordered(), query.columns()) + 1);
    }

    // The point's rank goes to its leaf lane, and its rank and coordinates into the node boxes
    // from its leaf up, as far as they change anything: a node's box and rank hold its
    // children's, so above a node that already covered the point every node does.
    void place(std::size_t p, std::size_t rank, const Query<S>& query) {
        const auto r = static_cast<std::int32_t>(rank);
        std::uint32_t node = node_of_point_[p];
        leaf_ranks_[std::size_t{leaf_of_node_[node]} * leaf_blocks_ * lanes_ + lane_of_point_[p]] = r;
        const S* coords = query.coords();
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
            if (!changed || node == 0) break;
            node = (node - 1) / 2;
        }
    }

private:
    static constexpr std::uint32_t kInner = RankTreeView<S>::kInnerNode;

    // A node still to be built: over points[first .. first + n), with the number of its first
    // leaf and bounds on its points' values in each column (each column's lowest and highest
    // value: exact at the root, then narrowed by the splits above).
    struct Split {
        std::uint32_t node, leaf;
        std::size_t n, first;
        std::uint32_t range[2 * kTreeMaxDims];
    };

    std::size_t leaf_lanes() const noexcept { return leaf_blocks_ * lanes_; }

    // The tree's shape follows from the number of points alone (halves at n / 2): its leaves
    // and highest node are known before any split, so that parts can be built independently.
    std::size_t leaves_under(std::size_t n) const noexcept {
        return n <= leaf_lanes() ? 1 : leaves_under(n / 2) + leaves_under(n - n / 2);
    }
    // The larger half is the second, so the last path reaches the deepest level, rightmost.
    std::size_t highest_node(std::size_t node, std::size_t n) const noexcept {
        return n <= leaf_lanes() ? node : highest_node(2 * node + 2, n - n / 2);
    }

    // No point is placed yet: empty boxes (lowest above highest), padding columns the
    // smallest value in both bounds; leaves all padding.
    void allocate(std::size_t count) {
        const std::size_t nodes = highest_node(0, count) + 1;
        top_.assign(nodes, -1);
        leaf_of_node_.assign(nodes, kInner);
        boxes_.assign(nodes * 2 * width_, std::numeric_limits<S>::min());
        for (std::size_t k = 0; k < nodes; ++k) std::fill_n(boxes_.data() + k * 2 * width_, dims_, std::numeric_limits<S>::max());
        const std::size_t leaves = leaves_under(count);
        leaf_ranks_.assign(leaves * leaf_lanes(), -1);
        leaf_values_.assign(leaves * dims_ * leaf_lanes(), std::numeric_limits<S>::max());
    }

    // The two halves of a node, split at the median of the column in which its points spread
    // most by its range. The median comes from a selection over (coordinate, point) pairs
    // packed in one integer: each coordinate is read once, not at every comparison.
    std::pair<Split, Split> halves(const Split& split, std::uint32_t* all_points, std::uint64_t* all_keys) const {
        const std::uint32_t* range = split.range;
        std::size_t widest = 0;
        for (std::size_t j = 1; j < dims_; ++j)
            if (range[2 * j + 1] - range[2 * j] > range[2 * widest + 1] - range[2 * widest]) widest = j;
        std::uint32_t* points = all_points + split.first;
        std::uint64_t* keys = all_keys + split.first;
        const std::size_t n = split.n, half = n / 2;
        for (std::size_t i = 0; i < n; ++i) keys[i] = std::uint64_t{columns_.at(widest, points[i])} << 32 | points[i];
        std::nth_element(keys, keys + half, keys + n);
        for (std::size_t i = 0; i < n; ++i) points[i] = static_cast<std::uint32_t>(keys[i]);
        const std::uint32_t median = columns_.at(widest, points[half]);
        Split low = split, high = split;
        low.node = 2 * split.node + 1;
        low.n = half;
        low.range[2 * widest + 1] = median;
        high.node = 2 * split.node + 2;
        high.leaf = split.leaf + static_cast<std::uint32_t>(leaves_under(half));
        high.n = n - half;
        high.first = split.first + half;
        high.range[2 * widest] = median;
        return {low, high};
    }

    void build(const Split& split, std::uint32_t* points, std::uint64_t* keys) {
        if (split.n <= leaf_lanes()) {
            build_leaf(split, points + split.first);
            return;
        }
        const auto [low, high] = halves(split, points, keys);
        build(low, points, keys);
        build(high, points, keys);
    }

    void build_leaf(const Split& split, const std::uint32_t* points) {
        leaf_of_node_[split.node] = split.leaf;
        for (std::size_t i = 0; i < split.n; ++i) {
            node_of_point_[points[i]] = split.node;
            lane_of_point_[points[i]] = static_cast<std::uint32_t>(i);
            S* block = leaf_values_.data() + (std::size_t{split.leaf} * leaf_blocks_ + i / lanes_) * dims_ * lanes_;
            for (std::size_t j = 0; j < dims_; ++j) block[j * lanes_ + i % lanes_] = coordinate<S>(columns_.at(j, points[i]));
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
