// The two indexes of placed points that the front search ranks a point against: front lists
// and a k-d tree (see front_search.cpp). Included only by front_search.cpp.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <utility>
#include <vector>

#include "algorithm/nds/front_query.hpp"

namespace rc::algorithm::nds::front {

// The k-d tree handles up to this many columns (objectives after the first); more take the
// front lists.
inline constexpr std::size_t kMaxDims = 64;

// The fronts as lists of members: the rank of a point is the first front holding no
// dominator of it, found by binary search over the fronts.
template <class S>
class FrontLists {
public:
    static constexpr bool kTree = false;

    FrontLists(const PointColumns&, std::size_t, const Scan<S>&) {}

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

// Node boxes are compared with the point a 16-byte vector of columns at a time.
template <class S>
struct BoxVector;
template <>
struct BoxVector<std::int16_t> {
    typedef std::int16_t type __attribute__((vector_size(16)));
};
template <>
struct BoxVector<std::int32_t> {
    typedef std::int32_t type __attribute__((vector_size(16)));
};

template <class Mask>
bool any_lane(Mask mask) noexcept {
    std::uint64_t words[sizeof(Mask) / 8];
    std::memcpy(words, &mask, sizeof mask);
    return (words[0] | words[1]) != 0;
}

// All points in a static k-d tree, built before any is ranked; a node keeps the bounding box
// of its points and the highest rank among those already placed. The rank of a point is one
// more than the highest rank placed <= it in every column (a dominator in the front before
// the point's own, and none in that front), found by descending only into nodes that can
// hold such a member with a higher rank than the best so far. Large fronts cost a fraction
// of a scan through them; a leaf holds up to two blocks of lanes, tested as the front lists
// test theirs.
template <class S>
class RankTree {
public:
    static constexpr bool kTree = true;
    using Box = typename BoxVector<S>::type;
    static constexpr std::size_t kBoxLanes = sizeof(Box) / sizeof(S);
    static constexpr std::size_t kLeafBlocks = 2;

    RankTree(const PointColumns& columns, std::size_t count, const Scan<S>& scan)
        : dims_(columns.dims), chunks_((dims_ + kBoxLanes - 1) / kBoxLanes), lanes_(scan.lanes),
          best_below_(scan.best_below), columns_(columns), node_of_point_(count), lane_of_point_(count) {
        std::vector<std::uint32_t> points(count);
        std::iota(points.begin(), points.end(), 0u);
        std::uint32_t range[2 * kMaxDims];
        for (std::size_t j = 0; j < dims_; ++j) {
            range[2 * j] = UINT32_MAX;
            range[2 * j + 1] = 0;
            for (std::size_t p = 0; p < count; ++p) {
                range[2 * j] = std::min(range[2 * j], columns.at(j, p));
                range[2 * j + 1] = std::max(range[2 * j + 1], columns.at(j, p));
            }
        }
        build(0, points.data(), count, range);
    }

    std::size_t rank_of(const Query<S>& query) const {
        // The point by column in box vectors; padding columns count as neither outside nor
        // inside a box's bounds (boxes pad both bounds with the smallest value).
        Box point[(kMaxDims + kBoxLanes - 1) / kBoxLanes];
        for (std::size_t c = 0; c < chunks_; ++c) {
            S lanes[kBoxLanes];
            for (std::size_t i = 0; i < kBoxLanes; ++i) {
                const std::size_t j = c * kBoxLanes + i;
                lanes[i] = j < dims_ ? query.coords()[j] : std::numeric_limits<S>::max();
            }
            std::memcpy(&point[c], lanes, sizeof(Box));
        }
        std::int32_t best = -1;
        std::uint32_t stack[128];
        std::size_t depth = 0;
        stack[depth++] = 0;
        while (depth > 0) {
            const std::uint32_t node = stack[--depth];
            if (top_[node] <= best) continue;
            const Box* box = boxes_.data() + std::size_t{node} * 2 * chunks_;
            auto low_above = box[0] > point[0];
            auto high_above = box[chunks_] > point[0];
            for (std::size_t c = 1; c < chunks_; ++c) {
                low_above |= box[c] > point[c];
                high_above |= box[chunks_ + c] > point[c];
            }
            if (any_lane(low_above)) continue;  // every point of the node is above in a column
            if (!any_lane(high_above)) {        // every point of the node is <= the point
                best = top_[node];
                continue;
            }
            const std::uint32_t leaf = leaf_of_node_[node];
            if (leaf != kInner) {
                const std::size_t block_size = dims_ * lanes_;
                for (std::size_t b = 0; b < kLeafBlocks; ++b) {
                    const std::size_t block = std::size_t{leaf} * kLeafBlocks + b;
                    best = best_below_(leaf_values_.data() + block * block_size, leaf_ranks_.data() + block * lanes_,
                                       query.broadcast(), query.columns(), dims_, best);
                }
                continue;
            }
            // The child with the higher rank last, so it is searched first.
            std::uint32_t first = 2 * node + 1, second = 2 * node + 2;
            if (top_[first] > top_[second]) std::swap(first, second);
            stack[depth++] = first;
            stack[depth++] = second;
        }
        return static_cast<std::size_t>(best + 1);
    }

    void place(std::size_t p, std::size_t rank, const Query<S>& query) {
        const auto r = static_cast<std::int32_t>(rank);
        std::uint32_t node = node_of_point_[p];
        leaf_ranks_[std::size_t{leaf_of_node_[node]} * kLeafBlocks * lanes_ + lane_of_point_[p]] = r;
        const S* coords = query.coords();
        for (;;) {
            top_[node] = std::max(top_[node], r);
            S* box = reinterpret_cast<S*>(boxes_.data() + std::size_t{node} * 2 * chunks_);
            S* high = box + chunks_ * kBoxLanes;
            for (std::size_t j = 0; j < dims_; ++j) {
                box[j] = std::min(box[j], coords[j]);
                high[j] = std::max(high[j], coords[j]);
            }
            if (node == 0) break;
            node = (node - 1) / 2;
        }
    }

private:
    static constexpr std::uint32_t kInner = UINT32_MAX;

    S value(std::uint32_t point, std::size_t j) const noexcept { return coordinate<S>(columns_.at(j, point)); }

    // Node `node` over points[0 .. n): a leaf, or two halves split at the median of the column
    // in which the points spread most by `range` (each column's lowest and highest value, or
    // bounds on them: exact at the root, then narrowed by the splits above). The exact box of
    // a leaf comes from its points, that of an inner node from its children's.
    void build(std::uint32_t node, std::uint32_t* points, std::size_t n, const std::uint32_t* range) {
        if (node >= top_.size()) {
            const std::size_t old = top_.size();
            top_.resize(2 * std::size_t{node} + 1, -1);
            leaf_of_node_.resize(top_.size(), kInner);
            boxes_.resize(top_.size() * 2 * chunks_);
            for (std::size_t k = old; k < top_.size(); ++k) {
                S* box = reinterpret_cast<S*>(boxes_.data() + k * 2 * chunks_);
                std::fill_n(box, 2 * chunks_ * kBoxLanes, std::numeric_limits<S>::min());
                std::fill_n(box, dims_, std::numeric_limits<S>::max());
            }
        }
        if (n <= kLeafBlocks * lanes_) {
            build_leaf(node, points, n);
            return;
        }
        std::size_t widest = 0;
        for (std::size_t j = 1; j < dims_; ++j)
            if (range[2 * j + 1] - range[2 * j] > range[2 * widest + 1] - range[2 * widest]) widest = j;
        const std::size_t half = n / 2;
        std::nth_element(points, points + half, points + n, [&](std::uint32_t a, std::uint32_t b) {
            return columns_.at(widest, a) < columns_.at(widest, b);
        });
        std::uint32_t narrowed[2 * kMaxDims];
        std::copy(range, range + 2 * dims_, narrowed);
        narrowed[2 * widest + 1] = columns_.at(widest, points[half]);
        build(2 * node + 1, points, half, narrowed);
        narrowed[2 * widest + 1] = range[2 * widest + 1];
        narrowed[2 * widest] = columns_.at(widest, points[half]);
        build(2 * node + 2, points + half, n - half, narrowed);
    }

    void build_leaf(std::uint32_t node, const std::uint32_t* points, std::size_t n) {
        const std::size_t leaf_lanes = kLeafBlocks * lanes_;
        const auto leaf = static_cast<std::uint32_t>(leaf_ranks_.size() / leaf_lanes);
        leaf_of_node_[node] = leaf;
        leaf_ranks_.resize(leaf_ranks_.size() + leaf_lanes, -1);
        leaf_values_.resize(leaf_values_.size() + dims_ * leaf_lanes, std::numeric_limits<S>::max());
        for (std::size_t i = 0; i < n; ++i) {
            node_of_point_[points[i]] = node;
            lane_of_point_[points[i]] = static_cast<std::uint32_t>(i);
            S* block = leaf_values_.data() + (std::size_t{leaf} * kLeafBlocks + i / lanes_) * dims_ * lanes_;
            for (std::size_t j = 0; j < dims_; ++j) block[j * lanes_ + i % lanes_] = value(points[i], j);
        }
    }

    std::size_t dims_, chunks_, lanes_;
    BestBelow<S> best_below_;
    const PointColumns& columns_;
    std::vector<Box> boxes_;                // per node: lowest coordinates, then highest
    std::vector<std::int32_t> top_;         // per node: highest rank placed below it, -1 if none
    std::vector<std::uint32_t> leaf_of_node_;
    std::vector<S> leaf_values_;            // per leaf: kLeafBlocks blocks of lanes
    std::vector<std::int32_t> leaf_ranks_;  // per leaf lane: its point's rank, -1 until placed
    std::vector<std::uint32_t> node_of_point_, lane_of_point_;
};

}  // namespace rc::algorithm::nds::front
