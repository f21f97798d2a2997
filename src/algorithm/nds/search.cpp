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
// point in every column, found while skipping every node whose placed points all lie above
// the point in some column. Best with few wide fronts, where the lists would scan whole
// fronts, and with many points.
//
// Both keep members objective-major in blocks of vector lanes, and one point is compared
// with a whole block at once; each lane does the same comparisons on its own member, so the
// answer is the scalar one whatever the lane count.
#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "algorithm/nds/indexes.hpp"
#include "algorithm/nds/internal.hpp"
#include "algorithm/nds/kernels.hpp"
#include "algorithm/nds/query.hpp"
#include "pool/worker_pool.hpp"

namespace rc::algorithm::nds {
namespace {

using front::Front;
using front::FrontLists;
using front::Query;
using front::RankTree;
using front::Scan;

// From this many points on, and with more than one worker, the points go in batches whose
// searches run on the pool; smaller calls never hand off to it.
constexpr std::size_t kParallelFrom = 4096;
// A batch's own points are settled on the calling thread, each against the batch's earlier
// points, so batches are kept to a small share of the points: 1/32 over front lists, and 1/128
// over the tree, whose searches are so much cheaper that the share would otherwise dominate.
template <class Index>
std::size_t batch_size(std::size_t count) {
    if constexpr (Index::kTree) return std::max<std::size_t>(512, count / 128);
    else return std::max<std::size_t>(1024, count / 32);
}

// Where the k-d tree takes over from the front lists (measured on uniform cubes, spheres and
// rounded shells, 4 to 15 objectives): from kTreeFrom points always; from kTreeMaybeFrom when
// a sample of kSampleSize points, evenly spread over the order, has at most kWideFronts / m
// fronts (a few wide fronts, where scanning whole fronts costs most); never below. At 3,000
// points both take about as long on one front in 8 to 15 objectives, and the tree 0.65 of the
// lists' time in 4; at 10,000 points the tree takes 0.3-0.8 of their time on spheres and
// shells, and the lists 0.6-0.9 of the tree's on uniform cubes, as on 30,000 x 5.
constexpr std::size_t kTreeFrom = 60000;
constexpr std::size_t kTreeMaybeFrom = 3000;
constexpr std::size_t kSampleSize = 1024;
constexpr std::size_t kWideFronts = 20;

template <class S, class Index>
std::vector<std::uint32_t> ranks_in_order(const PointColumns& columns, std::size_t count,
                                          const Scan<S>& scan) {
    Index index(columns, count, scan);
    std::vector<std::uint32_t> rank(count);
    Query<S> query(scan, columns.dims);
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
std::vector<std::uint32_t> ranks_in_batches(const PointColumns& columns, std::size_t count,
                                            const Scan<S>& scan, std::size_t batch) {
    const std::size_t dims = columns.dims;
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
            index.place(p, r, query);  // read again only by the next batch's searches
        }
    }
    return rank;
}

// Whether a second worker pays: a batch's searches must outweigh settling its points on the
// calling thread, which they do over front lists from 8 objectives or 10,000 points, and over
// the tree, whose searches are much cheaper, only from 8 objectives and 30,000 points (two
// workers took 1.1-1.5 times one worker's wall time below that, 0.6-0.8 above it).
// The columns leave out the first objective, by which the points are ordered.
template <class Index>
bool batches_pay(std::size_t count, std::size_t dims) {
    const std::size_t objectives = dims + 1;
    if constexpr (Index::kTree) return objectives >= 8 && count >= 30000;
    else return objectives >= 8 || count >= 10000;
}

template <class S, class Index>
std::vector<std::uint32_t> ranks_by(const PointColumns& columns, std::size_t count,
                                    const Scan<S>& scan) {
    if (count >= kParallelFrom && batches_pay<Index>(count, columns.dims) && pool::worker_count() > 1)
        return ranks_in_batches<S, Index>(columns, count, scan, batch_size<Index>(count));
    return ranks_in_order<S, Index>(columns, count, scan);
}

// Whether the fronts are few and wide, judged from a sample taken at even steps through the
// points (a subsequence of their order, so the front lists rank it as they would the whole).
template <class S>
bool fronts_look_wide(const PointColumns& columns, std::size_t count, const Scan<S>& scan) {
    PointColumns sample;
    sample.count = kSampleSize;
    sample.dims = columns.dims;
    sample.largest = columns.largest;
    sample.values.resize(kSampleSize * columns.dims);
    for (std::size_t j = 0; j < columns.dims; ++j)
        for (std::size_t i = 0; i < kSampleSize; ++i)
            sample.values[j * kSampleSize + i] = columns.at(j, i * count / kSampleSize);
    const auto ranks = ranks_in_order<S, FrontLists<S>>(sample, kSampleSize, scan);
    const std::size_t fronts = *std::max_element(ranks.begin(), ranks.end()) + std::size_t{1};
    return fronts * (columns.dims + 1) <= kWideFronts;
}

template <class S>
bool use_tree(const PointColumns& columns, std::size_t count, const Scan<S>& scan, Method method) {
    if (method == Method::front_lists) return false;
    if (method == Method::front_tree) return true;
    return count >= kTreeFrom || (count >= kTreeMaybeFrom && fronts_look_wide(columns, count, scan));
}

template <class S>
std::vector<std::uint32_t> ranks_with(const PointColumns& columns, std::size_t count,
                                      const Scan<S>& scan, Method method) {
    const bool tree = use_tree(columns, count, scan, method);
    // Node ranks are signed 32-bit; the point's box vectors live on the stack.
    if (tree && count <= INT32_MAX && columns.dims <= kTreeMaxDims)
        return ranks_by<S, RankTree<S>>(columns, count, scan);
    return ranks_by<S, FrontLists<S>>(columns, count, scan);
}

}  // namespace

std::vector<std::uint32_t> front_search_ranks(const PointColumns& columns,
                                              std::size_t count, Method method) {
    const Kernels& kernels = scan_kernels();
    // 16-bit coordinates double the lanes; the padding value must stay above every one.
    if (columns.largest < UINT16_MAX)
        return ranks_with<std::int16_t>(columns, count, {kernels.lanes_16, kernels.scan_16, kernels.tree_16}, method);
    return ranks_with<std::int32_t>(columns, count, {kernels.lanes_32, kernels.scan_32, kernels.tree_32}, method);
}

}  // namespace rc::algorithm::nds
