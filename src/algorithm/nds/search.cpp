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
#include <cstdint>
#include <iterator>
#include <numeric>
#include <optional>
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

// From this many points on, and with more than one worker, the search is shared out on the
// pool, in halves or in batches; smaller calls never hand off to it.
constexpr std::size_t kParallelFrom = 4096;
static_assert(RankTree<std::int16_t>::splits_into_parts(kParallelFrom) &&
              RankTree<std::int32_t>::splits_into_parts(kParallelFrom));
// Points per batch. A batch is searched against the index as it stood before the batch, so
// smaller batches leave less to raise and to check and keep the searches closer to the
// one-worker ones, while each step of a batch is handed over through two atomic counters.
// Measured with two workers on spheres, rounded shells and cubes of 5,000 to 100,000 points:
// over the tree 128 (256 took up to 1.1 times as long at 4 and 5 objectives, 512 up to 1.2);
// over front lists 256 (128 and 512 within noise of it).
template <class Index>
constexpr std::size_t kBatchSize = Index::kTree ? 128 : 256;

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
constexpr std::size_t kPointsPerSampleFront = 3300;
constexpr std::size_t kWideFronts = 20;

// Ranks points [first, last) one after another into `index`, which holds the points before
// them.
template <class S, class Index>
void rank_in_order(Index& index, const PointColumns& columns, std::size_t first, std::size_t last,
                   const Scan<S>& scan, std::uint32_t* rank) {
    Query<S> query(scan, columns.dims);
    for (std::size_t p = first; p < last; ++p) {
        query.load_point(columns, p);
        const std::size_t k = index.rank_of(query);
        rank[p] = static_cast<std::uint32_t>(k);
        index.place(p, k, query.coords());
    }
}

template <class S, class Index>
std::vector<std::uint32_t> ranks_in_order(const PointColumns& columns, std::size_t count,
                                          const Scan<S>& scan) {
    Index index(columns, count, scan);
    std::vector<std::uint32_t> rank(count);
    rank_in_order<S>(index, columns, 0, count, scan, rank.data());
    return rank;
}

// Points grouped by rank, for the searches that correct ranks found against part of the
// points: a point dominated by a member of the group of rank r ranks above r.
template <class S>
class RankGroups {
public:
    // The rank of a point known to rank at least `rank`, given the groups at or above it: one
    // more than the highest of them holding a dominator (searched from the highest down).
    std::uint32_t lift(const Query<S>& query, std::uint32_t rank) const {
        for (auto it = by_rank_.rbegin(); it != by_rank_.rend() && it->first >= rank; ++it)
            if (query.dominated_by(groups_[it->second])) return it->first + 1;
        return rank;
    }

    void add(std::uint32_t rank, const S* coords, std::size_t lanes, std::size_t dims) {
        auto at = std::lower_bound(by_rank_.begin(), by_rank_.end(), std::make_pair(rank, std::uint32_t{0}));
        if (at == by_rank_.end() || at->first != rank) {
            at = by_rank_.insert(at, {rank, static_cast<std::uint32_t>(groups_.size())});
            groups_.emplace_back();
        }
        groups_[at->second].add(lanes, coords, dims);
    }

private:
    std::vector<Front<S>> groups_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> by_rank_;  // (rank, group), by rank
};

// The same ranks with a batch of consecutive points searched at a time over the pool. Each
// point of a batch is ranked among all earlier batches (the index read only) and checked for
// a dominator among the batch's own earlier points, all in parallel; then, in order, the
// points so dominated are raised above the batch's earlier points that dominate them (held
// in per-rank groups, searched from the highest rank down); then the batch is placed, in the
// tree's subtrees side by side.
//
// The whole sort is one job of the pool, since waking sleeping workers for every batch would
// cost tens of microseconds a batch. Its first range leads: it offers each step of each batch
// (the searches, the placing) in pieces, takes pieces like any other worker, waits for those
// the others took, and does the rest alone while they wait for the next step. A worker never
// waits for another to start, so a job that finds fewer workers free (or one, running its
// ranges in turn) still finishes.
template <class S, class Index>
std::vector<std::uint32_t> ranks_in_batches(const PointColumns& columns, std::size_t count,
                                            const Scan<S>& scan) {
    const std::size_t dims = columns.dims;
    Index index(columns, count, scan, pool::worker_count());
    // Parts of the tree placed side by side (front lists are placed by the leader).
    constexpr std::size_t parts = [] {
        if constexpr (Index::kTree) return Index::kParts;
        else return std::size_t{0};
    }();
    constexpr std::size_t batch = kBatchSize<Index>;
    std::vector<std::uint32_t> rank(count);
    std::vector<std::uint8_t> raised(count);  // a dominator among the batch's earlier points
    Front<S> members;                         // the batch on offer, in order
    constexpr std::size_t kPiece = 32;        // points searched at a time
    const std::size_t batches = (count + batch - 1) / batch;
    auto first_of = [&](std::uint64_t b) { return static_cast<std::size_t>(b) * batch; };
    auto end_of = [&](std::uint64_t b) { return std::min(count, first_of(b) + batch); };
    // Step 2b searches batch b, step 2b + 1 places it.
    auto pieces_of = [&](std::uint64_t step) -> std::size_t {
        if (step % 2 == 0) return (end_of(step / 2) - first_of(step / 2) + kPiece - 1) / kPiece;
        return parts;
    };
    // The batch's points by the tree part they go to, in order within each part.
    std::vector<std::uint32_t> by_part(Index::kTree ? batch : 0);
    std::size_t part_start[parts + 1] = {};
    auto sort_by_part = [&](std::size_t first, std::size_t last) {
        if constexpr (Index::kTree) {
            std::fill(std::begin(part_start), std::end(part_start), 0);
            for (std::size_t p = first; p < last; ++p) ++part_start[index.part_of(p) + 1];
            std::partial_sum(std::begin(part_start), std::end(part_start), std::begin(part_start));
            std::size_t next[parts];
            std::copy_n(part_start, parts, next);
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
        if (std::find(raised.begin() + first, raised.begin() + last, 1) == raised.begin() + last) return;
        RankGroups<S> groups;
        for (std::size_t p = first; p < last; ++p) {
            if (raised[p]) {
                own.query.load_point(columns, p);
                rank[p] = groups.lift(own.query, rank[p]);
            }
            groups.add(rank[p], own.coordinates(columns, p), scan.lanes, dims);
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

// Whether batches on a second worker pay, where the fronts are many. Over the tree they do
// from kParallelFrom points: two workers took 0.72-0.82 of one worker's wall time on uniform
// cubes of 100,000 points in 4 and 5 objectives. Over front lists the searches must
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

// Few wide fronts on two or more workers: the points split into an earlier and a later half
// of the order, and the work into steps. First both halves are ranked on their own, side by
// side; the earlier half's ranks are final, as no later point dominates an earlier one. Then
// every later point is searched in the earlier half's index (read only, in pieces on all
// workers): its floor is one more than the highest rank of an earlier dominator. Last, in
// order, a later point's rank is the largest of its rank within the later half, its floor, and
// one more than the rank of a dominator among the later points raised above their own rank (a
// dominator not raised has a rank within the half below the point's, and adds nothing).
// A point is raised only when its floor lifts it or a raised point dominates it, and then (by
// induction and transitivity) some point its floor lifts dominates it; so the workers first
// mark those candidates, and the last step, on one thread, visits only them. With few fronts
// few are raised (2-4 % of the later half of rounded shells). No step is handed over point by
// point, which cost batches most of their gain at four and five objectives.
//
// Only a floor above the point's rank within its half lifts it, so a piece that the later half
// has already ranked searches only for dominators ranked at least that high: over the front
// lists one scan of one front settles most points, and the tree enters fewer nodes. A piece
// not ranked yet is searched in full rather than waited for.
template <class S, class Index>
std::vector<std::uint32_t> ranks_in_halves(const PointColumns& columns, std::size_t count, const Scan<S>& scan) {
    const std::size_t half = count / 2, later = count - half, dims = columns.dims;
    std::vector<std::uint32_t> rank(count);
    std::vector<std::uint32_t> floor(later);
    std::vector<std::uint8_t> candidate(later);
    std::optional<Index> earlier;
    // The later points their floor lifts, by their rank within the half, and their places in
    // the later half, in order.
    std::vector<Front<S>> lifted;
    std::vector<std::vector<std::uint32_t>> lifted_at;
    constexpr std::size_t kPiece = 256;    // later points ranked, searched or marked at a time
    const std::size_t pieces = (later + kPiece - 1) / kPiece;
    // Tasks in the order taken: the two halves, the floors' pieces, collecting the lifted
    // points, the candidates' pieces. A task waits only for tasks taken before it, which end
    // (their counts go up however they end, a failed allocation too), or for a cancelled job.
    const std::size_t floors = 2, collect = floors + pieces, tasks = collect + 1 + pieces;
    std::atomic<std::size_t> next_task{0}, earlier_ended{0}, settled{0}, collected{0};
    std::atomic<std::size_t> later_ranked{0};  // later points ranked within their half so far
    struct AllRanked {
        std::atomic<std::size_t>& ranked;
        std::size_t all;
        ~AllRanked() { ranked.store(all, std::memory_order_release); }
    };
    auto run = [&](std::size_t task, Query<S>& query) {
        if (task == 0) {
            pool::CountOnExit ended{earlier_ended};
            earlier.emplace(columns, half, scan);
            rank_in_order<S>(*earlier, columns, 0, half, scan, rank.data());
        } else if (task == 1) {
            pool::CountOnExit ended{settled};
            AllRanked ranked{later_ranked, later};
            PointColumns own;
            own.count = later;
            own.dims = dims;
            own.largest = columns.largest;
            own.values.resize(later * dims);
            for (std::size_t j = 0; j < dims; ++j)
                std::copy_n(columns.values.data() + j * count + half, later, own.values.data() + j * later);
            Index index(own, later, scan);
            for (std::size_t begin = 0; begin < later; begin += kPiece) {
                rank_in_order<S>(index, own, begin, std::min(later, begin + kPiece), scan, rank.data() + half);
                later_ranked.store(std::min(later, begin + kPiece), std::memory_order_release);
            }
        } else if (task < collect) {
            pool::CountOnExit ended{settled};
            const std::size_t begin = (task - floors) * kPiece, end = std::min(later, begin + kPiece);
            if (!pool::wait_for_count(earlier_ended, 1) || !earlier) return;
            const bool ranked = later_ranked.load(std::memory_order_acquire) >= end;
            for (std::size_t p = begin; p < end; ++p) {
                query.load_point(columns, half + p);
                floor[p] = static_cast<std::uint32_t>(earlier->rank_at_least(query, ranked ? rank[half + p] : 0));
            }
        } else if (task == collect) {
            pool::CountOnExit ended{collected};
            if (!pool::wait_for_count(settled, 1 + pieces)) return;
            for (std::size_t p = 0; p < later; ++p) {
                if (floor[p] <= rank[half + p]) continue;
                query.load_point(columns, half + p);
                const std::uint32_t own = rank[half + p];
                if (own >= lifted.size()) {
                    lifted.resize(own + 1);
                    lifted_at.resize(own + 1);
                }
                lifted[own].add(scan.lanes, query.coords(), dims);
                lifted_at[own].push_back(static_cast<std::uint32_t>(p));
                candidate[p] = 1;
            }
        } else {
            if (!pool::wait_for_count(collected, 1) || lifted.empty()) return;
            const std::size_t begin = (task - collect - 1) * kPiece, end = std::min(later, begin + kPiece);
            // Only the lifted points before a point can dominate it, and only those ranked below
            // it within the half (a dominator within the half ranks lower there): before[r]
            // counts the lifted points of rank r before the point.
            std::vector<std::size_t> before(lifted.size());
            for (std::size_t r = 0; r < lifted.size(); ++r)
                before[r] = static_cast<std::size_t>(
                    std::lower_bound(lifted_at[r].begin(), lifted_at[r].end(), begin) - lifted_at[r].begin());
            for (std::size_t p = begin; p < end; ++p) {
                if (candidate[p]) continue;
                const std::size_t below = std::min<std::size_t>(rank[half + p], lifted.size());
                bool loaded = false;
                for (std::size_t r = below; r-- > 0 && !candidate[p];) {
                    while (before[r] < lifted_at[r].size() && lifted_at[r][before[r]] < p) ++before[r];
                    if (before[r] == 0) continue;
                    if (!loaded) query.load_point(columns, half + p);
                    loaded = true;
                    candidate[p] = query.dominated_by_first(lifted[r], before[r]);
                }
            }
        }
    };
    pool::parallel_for(pool::worker_count(), [&](std::size_t, std::size_t) {
        Query<S> query(scan, dims);
        for (std::size_t task; (task = next_task.fetch_add(1, std::memory_order_relaxed)) < tasks;) {
            if (pool::stop_requested()) return;
            run(task, query);
        }
    });
    RankGroups<S> raised;
    Query<S> query(scan, dims);
    for (std::size_t p = 0; p < later; ++p) {
        if (!candidate[p]) continue;
        const std::uint32_t own = rank[half + p];
        query.load_point(columns, half + p);
        const std::uint32_t r = raised.lift(query, std::max(own, floor[p]));
        if (r > own) raised.add(r, query.coords(), scan.lanes, dims);
        rank[half + p] = r;
    }
    return rank;
}

template <class S, class Index>
std::vector<std::uint32_t> ranks_by(const PointColumns& columns, std::size_t count, const Scan<S>& scan,
                                    bool few_fronts) {
    if (count >= kParallelFrom && pool::worker_count() > 1) {
        if (few_fronts) return ranks_in_halves<S, Index>(columns, count, scan);
        if (batches_pay<Index>(count, columns.dims)) return ranks_in_batches<S, Index>(columns, count, scan);
    }
    return ranks_in_order<S, Index>(columns, count, scan);
}

template <class S>
std::size_t fronts_of(const PointColumns& sample, const Scan<S>& scan) {
    if (sample.count == 0) return 0;
    const auto ranks = ranks_in_order<S, FrontLists<S>>(sample, sample.count, scan);
    return *std::max_element(ranks.begin(), ranks.end()) + std::size_t{1};
}

bool choosing_index(std::size_t count, Method method) {
    return method == Method::automatic && count >= kTreeMaybeFrom && count < kTreeFrom;
}

template <class S>
std::vector<std::uint32_t> ranks_with(const PointColumns& columns, std::size_t count,
                                      const Scan<S>& scan, Method method, std::size_t fronts) {
    // The sample decides the index between kTreeMaybeFrom and kTreeFrom, and how two or more
    // workers share the search.
    const bool choosing = choosing_index(count, method);
    const bool few_fronts = fronts > 0 && fronts * (columns.dims + 1) <= kWideFronts;
    bool tree = method == Method::front_tree;
    if (method == Method::automatic)
        tree = count >= kTreeFrom || (choosing && few_fronts && count >= fronts * kPointsPerSampleFront);
    // Node ranks are signed 32-bit; the point's box vectors live on the stack.
    if (tree && count <= INT32_MAX && columns.dims <= kTreeMaxDims)
        return ranks_by<S, RankTree<S>>(columns, count, scan, few_fronts);
    return ranks_by<S, FrontLists<S>>(columns, count, scan, few_fronts);
}

Scan<std::int16_t> scan_16(const Kernels& kernels) {
    return {kernels.lanes_16, kernels.scan_16, kernels.prefix_16, kernels.tree_16};
}

Scan<std::int32_t> scan_32(const Kernels& kernels) {
    return {kernels.lanes_32, kernels.scan_32, kernels.prefix_32, kernels.tree_32};
}

}  // namespace

bool wants_sample(std::size_t count, Method method) {
    return (count >= kParallelFrom && pool::worker_count() > 1) || choosing_index(count, method);
}

std::size_t sample_fronts(const PointColumns& sample) {
    const Kernels& kernels = scan_kernels();
    if (sample.largest < UINT16_MAX) return fronts_of(sample, scan_16(kernels));
    return fronts_of(sample, scan_32(kernels));
}

// Aligned to a cache line, as the front-list kernel is: the speed of sorts of a few hundred
// points in 8-15 objectives, where the front lists' loops inlined here take most of the call,
// moved by 7-12 % with where unrelated code left this function's start.
[[gnu::aligned(64)]] std::vector<std::uint32_t> front_search_ranks(const PointColumns& columns, std::size_t count,
                                                                   Method method, std::size_t sampled_fronts) {
    const Kernels& kernels = scan_kernels();
    // 16-bit coordinates double the lanes; the padding value must stay above every one.
    if (columns.largest < UINT16_MAX) return ranks_with(columns, count, scan_16(kernels), method, sampled_fronts);
    return ranks_with(columns, count, scan_32(kernels), method, sampled_fronts);
}

}  // namespace rc::algorithm::nds
