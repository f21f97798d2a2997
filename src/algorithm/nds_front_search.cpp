// Longest-chain ranks of points in four or more objectives by front search: the points come
// in lexicographic order, so none is dominated by a later one, and each is ranked against the
// points placed before it, held in one of two indexes.
//
// Front lists: each front's members, and the point goes into the first front none of whose
// members dominates it. If a front holds a dominator of a point, so does every earlier front
// (a dominator of that dominator), so the fronts with a dominator are a prefix and binary
// search finds the first without one. Best with many narrow fronts.
//
// A k-d tree of all points: the rank is one more than the highest rank placed below the
// point in every column, found while skipping whole boxes. Best with few wide fronts, where
// the lists would scan whole fronts.
//
// Both keep members objective-major in blocks of vector lanes, and one point is compared
// with a whole block at once; each lane does the same comparisons on its own member, so the
// answer is the scalar one whatever the lane count.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <type_traits>
#include <utility>
#include <vector>

#include "algorithm/nds_front_scan.hpp"
#include "algorithm/nds_front_scan_lanes.hpp"
#include "algorithm/nds_internal.hpp"
#include "simd_level.hpp"
#include "worker_pool.hpp"

namespace rc::algorithm::nds {
namespace {

typedef std::int16_t Int16x8 __attribute__((vector_size(16)));
typedef std::int32_t Int32x4 __attribute__((vector_size(16)));

}  // namespace

const ScanKernels kBaselineScan{8, blocks_hold_dominator<std::int16_t, Int16x8>, best_rank_below<std::int16_t, Int16x8>,
                                4, blocks_hold_dominator<std::int32_t, Int32x4>, best_rank_below<std::int32_t, Int32x4>};

namespace {

// From this many points on, and with more than one worker, the points go in batches whose
// searches run on the pool; smaller calls never hand off to it.
constexpr std::size_t kParallelFrom = 4096;
constexpr std::size_t kSmallestBatch = 1024;
constexpr std::size_t kBatches = 32;
// Columns ordered by the point's coordinates before a search; the others follow in any order.
constexpr std::size_t kOrderedColumns = 4;
// The k-d tree handles up to this many columns (objectives after the first); more take the
// front lists.
constexpr std::size_t kMaxDims = 64;

// Where the k-d tree takes over from the front lists (measured on uniform cubes, spheres and
// rounded shells, 4 to 15 objectives): from kTreeFrom points always; from kTreeMaybeFrom when
// a sample of kSampleSize points, evenly spread over the order, has at most kWideFronts / m
// fronts (a few wide fronts, where scanning whole fronts costs most); never below.
constexpr std::size_t kTreeFrom = 60000;
constexpr std::size_t kTreeMaybeFrom = 15000;
constexpr std::size_t kSampleSize = 1024;
constexpr std::size_t kWideFronts = 20;

// A dense rank as a signed coordinate, shifted down by half the range of S; the type's
// largest value stays free for padding (the caller checks the ranks fit).
template <class S>
S coordinate(std::uint32_t rank) noexcept {
    using U = std::make_unsigned_t<S>;
    return static_cast<S>(static_cast<U>(rank) ^ (U{1} << (8 * sizeof(S) - 1)));
}

// The scan kernel of the chosen width for coordinates of type S.
template <class S>
struct Scan {
    std::size_t lanes;
    DominatorScan<S> holds_dominator;
    BestBelow<S> best_below;
};

// The members of one front, objective-major in blocks of `lanes` (see nds_front_scan.hpp);
// contiguous, so a scan streams through it.
template <class S>
class Front {
public:
    bool has_dominator(const Scan<S>& scan, const S* point, const std::uint32_t* columns, std::size_t dims) const {
        return scan.holds_dominator(values_.data(), values_.size() / (dims * scan.lanes), point, columns, dims);
    }

    void add(std::size_t lanes, const S* coords, std::size_t dims) {
        const std::size_t lane = size_ % lanes;
        if (lane == 0) values_.resize(values_.size() + dims * lanes, std::numeric_limits<S>::max());
        S* block = values_.data() + values_.size() - dims * lanes;
        for (std::size_t j = 0; j < dims; ++j) block[j * lanes + lane] = coords[j];
        ++size_;
    }

private:
    std::vector<S> values_;
    std::size_t size_ = 0;
};

// One point as the searches need it: its coordinates by column, and the same broadcast into
// lanes in the order of its columns from smallest to largest.
template <class S>
class Query {
public:
    Query(const Scan<S>& scan, std::size_t dims)
        : scan_(scan), coords_(dims), point_(dims * scan.lanes), columns_(dims) {}

    void load_point(const std::vector<std::vector<std::uint32_t>>& all, std::size_t p) {
        const std::size_t dims = coords_.size();
        for (std::size_t j = 0; j < dims; ++j) coords_[j] = coordinate<S>(all[j][p]);
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
        for (std::size_t j = 0; j < dims; ++j)
            std::fill_n(point_.data() + j * scan_.lanes, scan_.lanes, coords_[columns_[j]]);
    }

    bool dominated_by(const Front<S>& front) const {
        return front.has_dominator(scan_, point_.data(), columns_.data(), coords_.size());
    }

    void add_to(Front<S>& front) const { front.add(scan_.lanes, coords_.data(), coords_.size()); }

    const S* coords() const noexcept { return coords_.data(); }
    const S* broadcast() const noexcept { return point_.data(); }
    const std::uint32_t* columns() const noexcept { return columns_.data(); }

private:
    const Scan<S>& scan_;
    std::vector<S> coords_;
    std::vector<S> point_;
    std::vector<std::uint32_t> columns_;
};

// The fronts as lists of members: the rank of a point is the first front holding no
// dominator of it, found by binary search over the fronts.
template <class S>
class FrontLists {
public:
    FrontLists(const std::vector<std::vector<std::uint32_t>>&, std::size_t, const Scan<S>&) {}

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
    using Box = typename BoxVector<S>::type;
    static constexpr std::size_t kBoxLanes = sizeof(Box) / sizeof(S);
    static constexpr std::size_t kLeafBlocks = 2;

    RankTree(const std::vector<std::vector<std::uint32_t>>& columns, std::size_t count, const Scan<S>& scan)
        : dims_(columns.size()), chunks_((dims_ + kBoxLanes - 1) / kBoxLanes), lanes_(scan.lanes),
          best_below_(scan.best_below), columns_(columns), node_of_point_(count), lane_of_point_(count) {
        std::vector<std::uint32_t> points(count);
        std::iota(points.begin(), points.end(), 0u);
        build(0, points.data(), count);
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

    void place(std::size_t p, std::size_t rank, const Query<S>&) {
        const auto r = static_cast<std::int32_t>(rank);
        std::uint32_t node = node_of_point_[p];
        leaf_ranks_[std::size_t{leaf_of_node_[node]} * kLeafBlocks * lanes_ + lane_of_point_[p]] = r;
        for (;;) {
            top_[node] = std::max(top_[node], r);
            if (node == 0) break;
            node = (node - 1) / 2;
        }
    }

private:
    static constexpr std::uint32_t kInner = UINT32_MAX;

    S value(std::uint32_t point, std::size_t j) const noexcept { return coordinate<S>(columns_[j][point]); }

    // Node `node` over points[0 .. n): its box, then either a leaf or two halves split at the
    // median of the column in which the points spread most.
    void build(std::uint32_t node, std::uint32_t* points, std::size_t n) {
        if (node >= top_.size()) {
            top_.resize(2 * std::size_t{node} + 1, -1);
            leaf_of_node_.resize(top_.size(), kInner);
            boxes_.resize(top_.size() * 2 * chunks_);
        }
        std::vector<S> low(chunks_ * kBoxLanes, std::numeric_limits<S>::min());
        std::vector<S> high(chunks_ * kBoxLanes, std::numeric_limits<S>::min());
        std::size_t widest = 0;
        for (std::size_t j = 0; j < dims_; ++j) {
            low[j] = std::numeric_limits<S>::max();
            for (std::size_t i = 0; i < n; ++i) {
                low[j] = std::min(low[j], value(points[i], j));
                high[j] = std::max(high[j], value(points[i], j));
            }
            if (std::int64_t{high[j]} - low[j] > std::int64_t{high[widest]} - low[widest]) widest = j;
        }
        Box* box = boxes_.data() + std::size_t{node} * 2 * chunks_;
        std::memcpy(box, low.data(), chunks_ * sizeof(Box));
        std::memcpy(box + chunks_, high.data(), chunks_ * sizeof(Box));
        if (n <= kLeafBlocks * lanes_) {
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
            return;
        }
        const std::size_t half = n / 2;
        std::nth_element(points, points + half, points + n, [&](std::uint32_t a, std::uint32_t b) {
            return columns_[widest][a] < columns_[widest][b];
        });
        build(2 * node + 1, points, half);
        build(2 * node + 2, points + half, n - half);
    }

    std::size_t dims_, chunks_, lanes_;
    BestBelow<S> best_below_;
    const std::vector<std::vector<std::uint32_t>>& columns_;
    std::vector<Box> boxes_;                // per node: lowest coordinates, then highest
    std::vector<std::int32_t> top_;         // per node: highest rank placed below it, -1 if none
    std::vector<std::uint32_t> leaf_of_node_;
    std::vector<S> leaf_values_;            // per leaf: kLeafBlocks blocks of lanes
    std::vector<std::int32_t> leaf_ranks_;  // per leaf lane: its point's rank, -1 until placed
    std::vector<std::uint32_t> node_of_point_, lane_of_point_;
};

template <class S, class Index>
std::vector<std::uint32_t> ranks_in_order(const std::vector<std::vector<std::uint32_t>>& columns, std::size_t count,
                                          const Scan<S>& scan) {
    Index index(columns, count, scan);
    std::vector<std::uint32_t> rank(count);
    Query<S> query(scan, columns.size());
    for (std::size_t p = 0; p < count; ++p) {
        query.load_point(columns, p);
        const std::size_t k = index.rank_of(query);
        rank[p] = static_cast<std::uint32_t>(k);
        index.place(p, k, query);
    }
    return rank;
}

// The same ranks with the searches of a batch of consecutive points spread over the pool.
// Each point of a batch is first ranked among all earlier batches (in parallel, the index
// read only); then, in order, it is raised above the batch's own earlier points that
// dominate it, which sit in per-rank groups searched from the highest rank down.
template <class S, class Index>
std::vector<std::uint32_t> ranks_in_batches(const std::vector<std::vector<std::uint32_t>>& columns, std::size_t count,
                                            const Scan<S>& scan, std::size_t batch) {
    const std::size_t dims = columns.size();
    Index index(columns, count, scan);
    std::vector<std::uint32_t> rank(count);
    Query<S> query(scan, dims);
    for (std::size_t first = 0; first < count; first += batch) {
        const std::size_t last = std::min(count, first + batch);
        pool::parallel_for(last - first, [&](std::size_t begin, std::size_t end) {
            Query<S> own(scan, dims);
            for (std::size_t i = begin; i < end; ++i) {
                own.load_point(columns, first + i);
                rank[first + i] = static_cast<std::uint32_t>(index.rank_of(own));
            }
        });
        std::vector<Front<S>> groups;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> group_of_rank;  // (rank, group), by rank
        for (std::size_t p = first; p < last; ++p) {
            query.load_point(columns, p);
            std::uint32_t r = rank[p];
            for (auto it = group_of_rank.rbegin(); it != group_of_rank.rend() && it->first >= r; ++it) {
                if (query.dominated_by(groups[it->second])) {
                    r = it->first + 1;
                    break;
                }
            }
            rank[p] = r;
            auto at = std::lower_bound(group_of_rank.begin(), group_of_rank.end(), std::make_pair(r, std::uint32_t{0}));
            if (at == group_of_rank.end() || at->first != r) {
                at = group_of_rank.insert(at, {r, static_cast<std::uint32_t>(groups.size())});
                groups.emplace_back();
            }
            query.add_to(groups[at->second]);
        }
        for (std::size_t p = first; p < last; ++p) {
            query.load_point(columns, p);
            index.place(p, rank[p], query);
        }
    }
    return rank;
}

template <class S, class Index>
std::vector<std::uint32_t> ranks_by(const std::vector<std::vector<std::uint32_t>>& columns, std::size_t count,
                                    const Scan<S>& scan) {
    if (count >= kParallelFrom && pool::worker_count() > 1)
        return ranks_in_batches<S, Index>(columns, count, scan, std::max(kSmallestBatch, count / kBatches));
    return ranks_in_order<S, Index>(columns, count, scan);
}

// Whether the fronts are few and wide, judged from a sample taken at even steps through the
// points (a subsequence of their order, so the front lists rank it as they would the whole).
template <class S>
bool fronts_look_wide(const std::vector<std::vector<std::uint32_t>>& columns, std::size_t count, const Scan<S>& scan) {
    std::vector<std::vector<std::uint32_t>> sample(columns.size(), std::vector<std::uint32_t>(kSampleSize));
    for (std::size_t j = 0; j < columns.size(); ++j)
        for (std::size_t i = 0; i < kSampleSize; ++i) sample[j][i] = columns[j][i * count / kSampleSize];
    const auto ranks = ranks_in_order<S, FrontLists<S>>(sample, kSampleSize, scan);
    const std::size_t fronts = *std::max_element(ranks.begin(), ranks.end()) + std::size_t{1};
    return fronts * (columns.size() + 1) <= kWideFronts;
}

template <class S>
std::vector<std::uint32_t> ranks_with(const std::vector<std::vector<std::uint32_t>>& columns, std::size_t count,
                                      const Scan<S>& scan, Method method) {
    bool tree = count >= kTreeFrom || (count >= kTreeMaybeFrom && fronts_look_wide(columns, count, scan));
    if (method == Method::front_lists) tree = false;
    if (method == Method::front_tree) tree = true;
    // Node ranks are signed 32-bit; the point's box vectors live on the stack.
    if (tree && count <= INT32_MAX && columns.size() <= kMaxDims) return ranks_by<S, RankTree<S>>(columns, count, scan);
    return ranks_by<S, FrontLists<S>>(columns, count, scan);
}

const ScanKernels& scan_kernels() {
#if defined(__x86_64__)
    if (simd_level() != SimdLevel::scalar) return kAvx2Scan;
#endif
    return kBaselineScan;
}

}  // namespace

std::vector<std::uint32_t> front_search_ranks(const std::vector<std::vector<std::uint32_t>>& columns,
                                              std::size_t count, Method method) {
    std::uint32_t largest = 0;
    for (const auto& column : columns)
        for (std::uint32_t v : column) largest = std::max(largest, v);
    const ScanKernels& kernels = scan_kernels();
    // 16-bit coordinates double the lanes; the padding value must stay above every one.
    if (largest < UINT16_MAX)
        return ranks_with<std::int16_t>(columns, count, {kernels.lanes_16, kernels.scan_16, kernels.best_16}, method);
    return ranks_with<std::int32_t>(columns, count, {kernels.lanes_32, kernels.scan_32, kernels.best_32}, method);
}

}  // namespace rc::algorithm::nds
