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

const ScanKernels kBaselineScan{8, blocks_hold_dominator<std::int16_t, Int16x8>, 4,
                                blocks_hold_dominator<std::int32_t, Int32x4>};

namespace {

// From this many points on, and with more than one worker, the points go in batches whose
// searches run on the pool; smaller calls never hand off to it.
constexpr std::size_t kParallelFrom = 4096;
constexpr std::size_t kSmallestBatch = 1024;
constexpr std::size_t kBatches = 32;

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
        // smallest: those are tested first.
        std::iota(columns_.begin(), columns_.end(), 0u);
        std::sort(columns_.begin(), columns_.end(), [&](std::uint32_t a, std::uint32_t b) { return coords_[a] < coords_[b]; });
        for (std::size_t j = 0; j < dims; ++j)
            std::fill_n(point_.data() + j * scan_.lanes, scan_.lanes, coords_[columns_[j]]);
    }

    bool dominated_by(const Front<S>& front) const {
        return front.has_dominator(scan_, point_.data(), columns_.data(), coords_.size());
    }

    void add_to(Front<S>& front) const { front.add(scan_.lanes, coords_.data(), coords_.size()); }

private:
    const Scan<S>& scan_;
    std::vector<S> coords_;
    std::vector<S> point_;
    std::vector<std::uint32_t> columns_;
};

// The first front holding no dominator of the point (fronts.size() if each holds one).
template <class S>
std::size_t first_free_front(const std::vector<Front<S>>& fronts, const Query<S>& query) {
    std::size_t lo = 0, hi = fronts.size();
    while (lo < hi) {
        // The lower middle: with two fronts left the earlier one is probed first, which
        // settles the point at once whenever it belongs there.
        const std::size_t mid = lo + (hi - lo - 1) / 2;
        if (query.dominated_by(fronts[mid])) lo = mid + 1;
        else hi = mid;
    }
    return lo;
}

template <class S>
void place(std::vector<Front<S>>& fronts, std::size_t k, const Query<S>& query) {
    if (k == fronts.size()) fronts.emplace_back();
    query.add_to(fronts[k]);
}

template <class S>
std::vector<std::uint32_t> ranks_in_order(const std::vector<std::vector<std::uint32_t>>& columns, std::size_t count,
                                          const Scan<S>& scan) {
    std::vector<Front<S>> fronts;
    std::vector<std::uint32_t> rank(count);
    Query<S> query(scan, columns.size());
    for (std::size_t p = 0; p < count; ++p) {
        query.load_point(columns, p);
        const std::size_t k = first_free_front(fronts, query);
        rank[p] = static_cast<std::uint32_t>(k);
        place(fronts, k, query);
    }
    return rank;
}

// The same ranks with the searches of a batch of consecutive points spread over the pool.
// Each point of a batch first searches the fronts of all earlier batches (in parallel, the
// fronts read only); then, in order, it is raised above the batch's own earlier points that
// dominate it, which sit in per-rank groups searched from the highest rank down.
template <class S>
std::vector<std::uint32_t> ranks_in_batches(const std::vector<std::vector<std::uint32_t>>& columns, std::size_t count,
                                            const Scan<S>& scan, std::size_t batch) {
    const std::size_t dims = columns.size();
    std::vector<Front<S>> fronts;
    std::vector<std::uint32_t> rank(count);
    Query<S> query(scan, dims);
    for (std::size_t first = 0; first < count; first += batch) {
        const std::size_t last = std::min(count, first + batch);
        pool::parallel_for(last - first, [&](std::size_t begin, std::size_t end) {
            Query<S> own(scan, dims);
            for (std::size_t i = begin; i < end; ++i) {
                own.load_point(columns, first + i);
                rank[first + i] = static_cast<std::uint32_t>(first_free_front(fronts, own));
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
        // Every point's rank is at most the number of fronts so far: its dominators of the
        // batch were placed before it.
        for (std::size_t p = first; p < last; ++p) {
            query.load_point(columns, p);
            place(fronts, rank[p], query);
        }
    }
    return rank;
}

template <class S>
std::vector<std::uint32_t> ranks_with(const std::vector<std::vector<std::uint32_t>>& columns, std::size_t count,
                                      const Scan<S>& scan) {
    if (count >= kParallelFrom && pool::worker_count() > 1)
        return ranks_in_batches<S>(columns, count, scan, std::max(kSmallestBatch, count / kBatches));
    return ranks_in_order<S>(columns, count, scan);
}

const ScanKernels& scan_kernels() {
#if defined(__x86_64__)
    if (simd_level() != SimdLevel::scalar) return kAvx2Scan;
#endif
    return kBaselineScan;
}

}  // namespace

std::vector<std::uint32_t> front_search_ranks(const std::vector<std::vector<std::uint32_t>>& columns,
                                              std::size_t count) {
    std::uint32_t largest = 0;
    for (const auto& column : columns)
        for (std::uint32_t v : column) largest = std::max(largest, v);
    const ScanKernels& kernels = scan_kernels();
    // 16-bit coordinates double the lanes; the padding value must stay above every one.
    if (largest < UINT16_MAX) return ranks_with<std::int16_t>(columns, count, {kernels.lanes_16, kernels.scan_16});
    return ranks_with<std::int32_t>(columns, count, {kernels.lanes_32, kernels.scan_32});
}

}  // namespace rc::algorithm::nds
