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
#include <utility>
#include <vector>

#include "algorithm/nds_internal.hpp"
#include "worker_pool.hpp"

namespace rc::algorithm::nds {
namespace {

// Lanes of one block: one 16-byte vector per column, the width of the x86-64 baseline.
constexpr std::size_t kBlockBytes = 16;

// From this many points on, and with more than one worker, the points go in batches whose
// searches run on the pool; smaller calls never hand off to it.
constexpr std::size_t kParallelFrom = 4096;
constexpr std::size_t kSmallestBatch = 1024;
constexpr std::size_t kBatches = 32;

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

// The members of one front, objective-major in blocks of Lanes<S>::count: block b holds
// column j of its members at values[(b * dims + j) * lanes ...]. Contiguous, so a scan streams.
template <class S>
class Front {
public:
    static constexpr std::size_t lanes = Lanes<S>::count;
    using Vector = typename Lanes<S>::Vector;

    // Whether some member is <= the point in every column. `point[j]` holds the point's
    // coordinate in column `columns[j]` in every lane (most selective column first).
    bool has_dominator(const Vector* point, const std::uint32_t* columns, std::size_t dims) const noexcept {
        const S* end = values_.data() + values_.size();
        for (const S* block = values_.data(); block != end; block += dims * lanes) {
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

    void add(const S* coords, std::size_t dims) {
        const std::size_t lane = size_ % lanes;
        if (lane == 0) values_.resize(values_.size() + dims * lanes, Lanes<S>::padding);
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
struct Query {
    using Vector = typename Lanes<S>::Vector;
    std::vector<S> coords;
    std::vector<Vector> point;
    std::vector<std::uint32_t> columns;

    explicit Query(std::size_t dims) : coords(dims), point(dims), columns(dims) {}

    void load_point(const std::vector<std::vector<std::uint32_t>>& all, std::size_t p) {
        const std::size_t dims = coords.size();
        for (std::size_t j = 0; j < dims; ++j) coords[j] = Lanes<S>::from_rank(all[j][p]);
        // A member fails to dominate the point soonest in the columns where the point is
        // smallest: those are tested first.
        std::iota(columns.begin(), columns.end(), 0u);
        std::sort(columns.begin(), columns.end(), [&](std::uint32_t a, std::uint32_t b) { return coords[a] < coords[b]; });
        for (std::size_t j = 0; j < dims; ++j) point[j] = Vector{} + coords[columns[j]];
    }

    bool dominated_by(const Front<S>& front) const noexcept {
        return front.has_dominator(point.data(), columns.data(), coords.size());
    }
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
    fronts[k].add(query.coords.data(), query.coords.size());
}

template <class S>
std::vector<std::uint32_t> ranks_in_order(const std::vector<std::vector<std::uint32_t>>& columns, std::size_t count) {
    std::vector<Front<S>> fronts;
    std::vector<std::uint32_t> rank(count);
    Query<S> query(columns.size());
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
                                            std::size_t batch) {
    const std::size_t dims = columns.size();
    std::vector<Front<S>> fronts;
    std::vector<std::uint32_t> rank(count);
    Query<S> query(dims);
    for (std::size_t first = 0; first < count; first += batch) {
        const std::size_t last = std::min(count, first + batch);
        pool::parallel_for(last - first, [&](std::size_t begin, std::size_t end) {
            Query<S> own(dims);
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
            groups[at->second].add(query.coords.data(), dims);
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
std::vector<std::uint32_t> ranks_with(const std::vector<std::vector<std::uint32_t>>& columns, std::size_t count) {
    if (count >= kParallelFrom && pool::worker_count() > 1)
        return ranks_in_batches<S>(columns, count, std::max(kSmallestBatch, count / kBatches));
    return ranks_in_order<S>(columns, count);
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
