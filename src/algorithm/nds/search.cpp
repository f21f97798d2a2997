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
#include <atomic>
#include <bit>
#include <cstdint>
#include <iterator>
#include <numeric>
#include <thread>
#include <utility>
#include <vector>

#include "algorithm/nds/indexes.hpp"
#include "algorithm/nds/internal.hpp"
#include "algorithm/nds/kernels.hpp"
#include "algorithm/nds/query.hpp"
#include "pool/worker_pool.hpp"

namespace rc::algorithm::nds {
namespace {

using front::coordinates_of;
using front::Front;
using front::FrontLists;
using front::Query;
using front::RankTree;
using front::Scan;

// From this many points on, and with more than one worker, the points go in batches whose
// searches run on the pool; smaller calls never hand off to it.
constexpr std::size_t kParallelFrom = 4096;
static_assert(RankTree<std::int16_t>::splits_into_parts(kParallelFrom) &&
              RankTree<std::int32_t>::splits_into_parts(kParallelFrom));
// Points per batch. A batch is searched against the index as it stood before the batch, so
// smaller batches leave less to raise and to check and keep the searches closer to the
// one-worker ones, while each step of a batch is handed over through two atomic counters.
// Measured with two workers on spheres, rounded shells and cubes of 5,000 to 100,000 points:
// over the tree searched by points 128 (256 took up to 1.1 times as long at 4 and 5
// objectives, 512 up to 1.2), by parts 256 (128 and 512 up to 1.07 times as long, 96 1.1);
// over front lists 256 (128 and 512 within noise of it).
template <class Index>
constexpr std::size_t batch_size(bool search_by_part) {
    return Index::kTree && !search_by_part ? 128 : 256;
}

// Where the k-d tree takes over from the front lists (measured with AVX-512 on uniform cubes,
// spheres and rounded shells, 4 to 15 objectives): from kTreeFrom points always; from
// kTreeMaybeFrom when a sample of kSampleSize points, evenly spread over the order, has at most
// kWideFronts / m fronts (a few wide fronts, where scanning whole fronts costs most) and the
// points number at least kPointsPerSampleFront per front of the sample; never below. Spheres
// (one front) and shells (a sample of one to three fronts) of 5,000 points take 0.6-0.85 of
// the tree's time over the lists, of 7,000 to 8,500 0.85-1.1 times, of 12,500 1.25-1.6 times;
// shells in 4 objectives, whose sample shows four fronts, 0.75 at 10,000 points, 0.88 at
// 12,500 and 1.15 times at 20,000; uniform cubes 0.3-0.9 up to 20,000 points in 4 to 10
// objectives.
constexpr std::size_t kTreeFrom = 60000;
constexpr std::size_t kTreeMaybeFrom = 8000;
constexpr std::size_t kSampleSize = 1024;
constexpr std::size_t kPointsPerSampleFront = 3300;
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
        index.place(p, k, query.coords());
    }
    return rank;
}

// The same ranks with a batch of consecutive points searched at a time over the pool. Each
// point of a batch is ranked among all earlier batches (the index read only) and checked for
// a dominator among the batch's own earlier points, all in parallel; then, in order, the
// points so dominated are raised above the batch's earlier points that dominate them (held
// in per-rank groups, searched from the highest rank down); then the batch is placed, in the
// tree's subtrees side by side.
//
// The tree's searches are shared out in one of two ways. By points: each piece of a batch is
// searched through the whole tree. By parts (`search_by_part`, one part per worker): a piece
// is one part of the tree searched for every point of the batch, the point's rank one more
// than the highest of the parts' answers. The leader takes the first piece of each step, so
// the same worker mostly searches and places the same part, and reads nodes it wrote itself
// rather than lines the other core just wrote. On two workers by parts took 0.83-0.96 of the
// time by points on spheres and rounded shells of 10,000 and 50,000 points in 4 and 5
// objectives, but 1.1 times as long on uniform cubes of 100,000 points, whose many fronts
// leave the parts' work uneven; four parts on two workers took 1.2 times as long as two.
//
// The whole sort is one job of the pool, since waking sleeping workers for every batch would
// cost tens of microseconds a batch. Its first range leads: it offers each step of each batch
// (the searches, the placing) in pieces, takes pieces like any other worker, waits for those
// the others took, and does the rest alone while they wait for the next step. A worker never
// waits for another to start, so a job that finds fewer workers free (or one, running its
// ranges in turn) still finishes.
template <class S, class Index>
std::vector<std::uint32_t> ranks_in_batches(const PointColumns& columns, std::size_t count,
                                            const Scan<S>& scan, bool search_by_part) {
    const std::size_t dims = columns.dims;
    Index index(columns, count, scan, pool::worker_count());
    // Parts of the tree placed side by side (front lists are placed by the leader), at most
    // kMostParts of them; searched by parts, one per worker (rounded up to a power of two).
    constexpr std::size_t kMostParts = [] {
        if constexpr (Index::kTree) return Index::kMostParts;
        else return std::size_t{0};
    }();
    std::size_t parts = 0;
    if constexpr (Index::kTree) {
        if (search_by_part) index.divide_into(std::min(kMostParts, std::bit_ceil(pool::worker_count())));
        parts = index.parts();
    }
    search_by_part = search_by_part && Index::kTree;
    const std::size_t batch = batch_size<Index>(search_by_part);
    std::vector<std::uint32_t> rank(count);
    std::vector<std::int32_t> highest_of_part(search_by_part ? parts * batch : 0);  // part-major, by place in batch
    std::vector<std::uint8_t> raised(count);  // a dominator among the batch's earlier points
    Front<S> members;                         // the batch on offer, in order
    constexpr std::size_t kPiece = 32;        // points searched at a time
    const std::size_t batches = (count + batch - 1) / batch;
    auto first_of = [&](std::uint64_t b) { return static_cast<std::size_t>(b) * batch; };
    auto end_of = [&](std::uint64_t b) { return std::min(count, first_of(b) + batch); };
    // Step 2b searches batch b, step 2b + 1 places it.
    auto pieces_of = [&](std::uint64_t step) -> std::size_t {
        if (step % 2 == 0 && !search_by_part) return (end_of(step / 2) - first_of(step / 2) + kPiece - 1) / kPiece;
        return parts;
    };
    // The batch's points by the tree part they go to, in order within each part.
    std::vector<std::uint32_t> by_part(Index::kTree ? batch : 0);
    std::size_t part_start[kMostParts + 1] = {};
    auto sort_by_part = [&](std::size_t first, std::size_t last) {
        if constexpr (Index::kTree) {
            std::fill(std::begin(part_start), std::end(part_start), 0);
            for (std::size_t p = first; p < last; ++p) ++part_start[index.part_of(p) + 1];
            std::partial_sum(std::begin(part_start), std::end(part_start), std::begin(part_start));
            std::size_t next[kMostParts];
            std::copy_n(part_start, kMostParts, next);
            for (std::size_t p = first; p < last; ++p) by_part[next[index.part_of(p)]++] = static_cast<std::uint32_t>(p);
        }
    };
    // What a worker keeps between pieces: the point it searches.
    struct Searcher {
        Query<S> query;
        std::vector<S> coords;
        Searcher(const Scan<S>& scan, std::size_t dims) : query(scan, dims), coords(dims) {}
        // Point p's coordinates by column.
        const S* coordinates(const PointColumns& all, std::size_t p) {
            coordinates_of(all, p, coords.data());
            return coords.data();
        }
    };
    auto run_piece = [&](Searcher& own, std::uint64_t step, std::size_t piece) {
        const std::size_t first = first_of(step / 2), last = end_of(step / 2);
        if constexpr (Index::kTree) {
            if (step % 2 == 0 && search_by_part) {
                // The part's answer for every point; the batch check for a share of them.
                const std::size_t share = (last - first + parts - 1) / parts;
                const std::size_t checked = first + piece * share, checked_end = std::min(last, checked + share);
                for (std::size_t p = first; p < last; ++p) {
                    own.query.load_point(columns, p);
                    highest_of_part[piece * batch + (p - first)] = index.highest_in_part(own.query, piece);
                    if (p >= checked && p < checked_end)
                        raised[p] = members.has_dominator_before(scan, p - first, own.query.ordered(),
                                                                 own.query.columns(), dims);
                }
                return;
            }
        }
        if (step % 2 == 0) {
            const std::size_t begin = first + piece * kPiece, end = std::min(last, begin + kPiece);
            for (std::size_t p = begin; p < end; ++p) {
                own.query.load_point(columns, p);
                rank[p] = static_cast<std::uint32_t>(index.rank_of(own.query));
                raised[p] = members.has_dominator_before(scan, p - first, own.query.ordered(), own.query.columns(), dims);
            }
        } else if constexpr (Index::kTree) {
            for (std::size_t k = part_start[piece]; k < part_start[piece + 1]; ++k)
                index.place_in_part(by_part[k], rank[by_part[k]], piece);
        }
    };
    // The step on offer (its number + 1 in the high half, 0 before the first) and its next
    // piece; the pieces of it finished; whether the leader is done.
    std::atomic<std::uint64_t> offer{0};
    std::atomic<std::size_t> pieces_done{0};
    std::atomic<bool> finished{false};
    auto take_and_run = [&](Searcher& own) {
        std::uint64_t current = offer.load(std::memory_order_acquire);
        for (;;) {
            const std::uint64_t tag = current >> 32;
            const std::size_t piece = current & 0xffffffffu;
            if (tag == 0 || piece >= pieces_of(tag - 1)) return false;
            if (offer.compare_exchange_weak(current, current + 1, std::memory_order_acq_rel,
                                            std::memory_order_acquire)) {
                run_piece(own, tag - 1, piece);
                pieces_done.fetch_add(1, std::memory_order_release);
                return true;
            }
        }
    };
    auto run_step = [&](Searcher& own, std::uint64_t step) {
        pieces_done.store(0, std::memory_order_relaxed);
        offer.store((step + 1) << 32, std::memory_order_release);
        while (take_and_run(own)) {}
        while (pieces_done.load(std::memory_order_acquire) < pieces_of(step)) std::this_thread::yield();
    };
    // In order, each point dominated within its batch rises above its dominators there.
    auto raise = [&](Searcher& own, std::size_t first, std::size_t last) {
        Query<S>& query = own.query;
        if (std::find(raised.begin() + first, raised.begin() + last, 1) == raised.begin() + last) return;
        std::vector<Front<S>> groups;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> group_of_rank;  // (rank, group), by rank
        for (std::size_t p = first; p < last; ++p) {
            std::uint32_t r = rank[p];
            if (raised[p]) {
                query.load_point(columns, p);
                for (auto it = group_of_rank.rbegin(); it != group_of_rank.rend() && it->first >= r; ++it) {
                    if (query.dominated_by(groups[it->second])) {
                        r = it->first + 1;
                        break;
                    }
                }
                rank[p] = r;
            }
            auto at = std::lower_bound(group_of_rank.begin(), group_of_rank.end(), std::make_pair(r, std::uint32_t{0}));
            if (at == group_of_rank.end() || at->first != r) {
                at = group_of_rank.insert(at, {r, static_cast<std::uint32_t>(groups.size())});
                groups.emplace_back();
            }
            groups[at->second].add(scan.lanes, own.coordinates(columns, p), dims);
        }
    };
    auto lead = [&] {
        // The others stop when the leader does, however it ends (a failed allocation too).
        struct Finish {
            std::atomic<bool>& finished;
            ~Finish() { finished.store(true, std::memory_order_release); }
        } finish{finished};
        Searcher own(scan, dims);
        for (std::uint64_t b = 0; b < batches && !pool::stop_requested(); ++b) {
            const std::size_t first = first_of(b), last = end_of(b);
            members.clear();
            for (std::size_t p = first; p < last; ++p) members.add(scan.lanes, own.coordinates(columns, p), dims);
            run_step(own, 2 * b);
            if (search_by_part) {
                for (std::size_t p = first; p < last; ++p) {
                    std::int32_t highest = -1;
                    for (std::size_t part = 0; part < parts; ++part)
                        highest = std::max(highest, highest_of_part[part * batch + (p - first)]);
                    rank[p] = static_cast<std::uint32_t>(highest + 1);
                }
            }
            raise(own, first, last);
            if constexpr (Index::kTree) {
                sort_by_part(first, last);
                run_step(own, 2 * b + 1);
                index.cover_parts();
                continue;
            }
            for (std::size_t p = first; p < last; ++p) index.place(p, rank[p], own.coordinates(columns, p));
        }
    };
    auto help = [&] {
        Searcher own(scan, dims);
        while (!finished.load(std::memory_order_acquire) && !pool::stop_requested())
            if (!take_and_run(own)) std::this_thread::yield();
    };
    pool::parallel_for(pool::worker_count(), [&](std::size_t begin, std::size_t end) {
        for (std::size_t w = begin; w < end; ++w) w == 0 ? lead() : help();
    });
    return rank;
}

// Whether a second worker pays. Over the tree it does from kParallelFrom points: on spheres
// and rounded shells of 10,000 and 50,000 points two workers took 0.65-0.77 of one worker's
// wall time in 8 and 10 objectives, 0.77-0.87 in 5 and 0.84-0.93 in 4, and 0.72-0.82 on
// uniform cubes of 100,000 points in 4 and 5. Over front lists the searches must
// outweigh the batch steps, which takes more points the fewer the objectives: on uniform cubes
// two workers took 1.27 times one worker's time at 5,000 x 8 and 0.79 at 10,000 x 8, 1.10 at
// 10,000 x 5 and 0.81 at 30,000 x 5, 1.06 at 30,000 x 4 and 0.93 at 50,000 x 4. The columns
// leave out the first objective, by which the points are ordered.
template <class Index>
bool batches_pay(std::size_t count, std::size_t dims) {
    const std::size_t objectives = dims + 1;
    if constexpr (Index::kTree) return true;
    else return count * (objectives - 3) >= 50000;
}

template <class S, class Index>
std::vector<std::uint32_t> ranks_by(const PointColumns& columns, std::size_t count,
                                    const Scan<S>& scan) {
    // Below kTreeFrom the tree holds few wide fronts (or is forced), where searching by parts
    // wins; from there on it holds any input, many fronts too.
    if (count >= kParallelFrom && batches_pay<Index>(count, columns.dims) && pool::worker_count() > 1)
        return ranks_in_batches<S, Index>(columns, count, scan, count < kTreeFrom);
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
    return fronts * (columns.dims + 1) <= kWideFronts && count >= fronts * kPointsPerSampleFront;
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

// Aligned to a cache line, as the front-list kernel is: the speed of sorts of a few hundred
// points in 8-15 objectives, where the front lists' loops inlined here take most of the call,
// moved by 7-12 % with where unrelated code left this function's start.
[[gnu::aligned(64)]] std::vector<std::uint32_t> front_search_ranks(const PointColumns& columns,
                                                                   std::size_t count, Method method) {
    const Kernels& kernels = scan_kernels();
    // 16-bit coordinates double the lanes; the padding value must stay above every one.
    if (columns.largest < UINT16_MAX)
        return ranks_with<std::int16_t>(columns, count,
                                        {kernels.lanes_16, kernels.scan_16, kernels.prefix_16, kernels.tree_16}, method);
    return ranks_with<std::int32_t>(columns, count,
                                    {kernels.lanes_32, kernels.scan_32, kernels.prefix_32, kernels.tree_32}, method);
}

}  // namespace rc::algorithm::nds
