// Longest-chain ranks of points in four or more objectives by divide and conquer over the
// lexicographic order (after Jensen's and Fortin et al.'s non-dominated sorting): the ranks
// of the first half are settled, raised into the second half, and then the second half is
// settled, so every point receives its dominators' final ranks before it passes its own on.
//
// Raising the ranks of a set R from a settled set L ("contribute") is a static dominance
// problem in the remaining columns; it is split at a median of one column, which either
// decides that column for a pair of halves (and drops it) or leaves a smaller problem. One or
// two remaining columns are swept in sorted order. Memory is O(count * dims).
//
// A large contribute step is first expanded into independent pieces that run on the worker
// pool. Ranks only ever grow to a maximum, raised atomically, so the result is the same for
// any number of workers and any order of the pieces.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

#include "algorithm/nds/internal.hpp"
#include "worker_pool.hpp"

namespace rc::algorithm::nds {
namespace {

using Id = std::uint32_t;

// Below these sizes comparing every pair directly is cheaper than splitting further.
constexpr std::size_t kOrderedLeaf = 64;
constexpr std::size_t kPairsLeaf = 1024;
// Outer steps of at least this many points spread their contribute step over the pool.
constexpr std::size_t kParallelFrom = 2048;

// The rank of every point, read and raised by several workers at once during a parallel
// contribute step (relaxed atomics: only the final maxima matter).
class Ranks {
public:
    explicit Ranks(std::size_t count) : rank_(count, 0) {}
    std::uint32_t operator[](Id p) const noexcept { return ref(p).load(std::memory_order_relaxed); }
    void raise(Id p, std::uint32_t candidate) noexcept {
        auto r = ref(p);
        std::uint32_t current = r.load(std::memory_order_relaxed);
        while (current < candidate && !r.compare_exchange_weak(current, candidate, std::memory_order_relaxed)) {}
    }
    std::vector<std::uint32_t> take() && { return std::move(rank_); }

private:
    std::atomic_ref<std::uint32_t> ref(Id p) const noexcept {
        return std::atomic_ref<std::uint32_t>(const_cast<std::uint32_t&>(rank_[p]));
    }
    std::vector<std::uint32_t> rank_;
};

struct Points {
    const std::uint32_t* coords;
    std::size_t dims;
    std::uint32_t x(Id p, std::uint32_t d) const noexcept { return coords[std::size_t{p} * dims + d]; }
};

// A contribute step set aside to run on the pool, with its own copies of the id lists.
struct Piece {
    std::vector<Id> l, r;
    std::vector<std::uint32_t> dims;
};

// Prefix maximum over positions 0 .. size-1 (Fenwick tree); 0 means nothing there yet.
class PrefixMax {
public:
    void reset(std::size_t size) { tree_.assign(size, 0); }
    void raise(std::size_t position, std::uint32_t value) {
        for (std::size_t i = position + 1; i <= tree_.size(); i += i & (~i + 1))
            tree_[i - 1] = std::max(tree_[i - 1], value);
    }
    // Largest value at positions [0, end).
    std::uint32_t below(std::size_t end) const {
        std::uint32_t best = 0;
        for (std::size_t i = end; i > 0; i -= i & (~i + 1)) best = std::max(best, tree_[i - 1]);
        return best;
    }

private:
    std::vector<std::uint32_t> tree_;
};

// Runs contribute steps on one thread, with its own scratch memory. With `pieces` set it
// splits a step only down to pieces of about `piece_size` points and collects those instead
// of running them.
class Contributor {
public:
    Contributor(Points points, Ranks& ranks) : p_(points), rank_(ranks) {}

    void expand_into(std::vector<Piece>* pieces, std::size_t piece_size) {
        pieces_ = pieces;
        piece_size_ = piece_size;
    }

    // Raises every r in R to 1 + the rank of each l in L with l <= r in each of `dims`. The
    // ranks of L are final. Reorders both id ranges.
    void run(Id* L, std::size_t nl, Id* R, std::size_t nr, const std::uint32_t* dims, std::size_t n) {
        const std::size_t at = dim_stack_.size();
        dim_stack_.insert(dim_stack_.end(), dims, dims + n);
        contribute(L, nl, R, nr, at, n);
        dim_stack_.resize(at);
    }

    // p <= q in each of the columns dims[0 .. n).
    bool below_in(Id p, Id q, const std::uint32_t* dims, std::size_t n) const noexcept {
        for (std::size_t k = 0; k < n; ++k)
            if (p_.x(p, dims[k]) > p_.x(q, dims[k])) return false;
        return true;
    }

private:
    // As run(), with the columns at dim_stack_[at .. at+n).
    void contribute(Id* L, std::size_t nl, Id* R, std::size_t nr, std::size_t at, std::size_t n) {
        if (nl == 0 || nr == 0) return;
        std::uint32_t top = 0;
        for (std::size_t i = 0; i < nl; ++i) top = std::max(top, rank_[L[i]]);
        std::uint32_t floor = UINT32_MAX;
        for (std::size_t i = 0; i < nr; ++i) floor = std::min(floor, rank_[R[i]]);
        if (top + 1 <= floor) return;  // nothing in L can raise anything in R

        // Keep the columns that some pair still has to be checked in: drop those where all
        // of L lies below all of R, give up when all of L lies above all of R in one.
        const std::size_t base = dim_stack_.size();
        std::uint32_t split_dim = 0, split_low = 0, split_high = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const std::uint32_t d = dim_stack_[at + k];
            std::uint32_t l_min = UINT32_MAX, l_max = 0, r_min = UINT32_MAX, r_max = 0;
            for (std::size_t i = 0; i < nl; ++i) {
                const std::uint32_t v = p_.x(L[i], d);
                l_min = std::min(l_min, v);
                l_max = std::max(l_max, v);
            }
            for (std::size_t i = 0; i < nr; ++i) {
                const std::uint32_t v = p_.x(R[i], d);
                r_min = std::min(r_min, v);
                r_max = std::max(r_max, v);
            }
            if (l_min > r_max) {
                dim_stack_.resize(base);
                return;
            }
            if (l_max <= r_min) continue;
            if (dim_stack_.size() == base) {
                split_dim = d;
                split_low = l_min;
                split_high = r_max;
            }
            dim_stack_.push_back(d);
        }
        const std::size_t kept = dim_stack_.size() - base;

        if (kept == 0) {
            for (std::size_t i = 0; i < nr; ++i) rank_.raise(R[i], top + 1);
        } else if (nl * nr <= kPairsLeaf) {
            compare_all(L, nl, R, nr, base, kept);
        } else if (pieces_ != nullptr && (kept <= 2 || nl + nr <= piece_size_)) {
            pieces_->push_back(Piece{std::vector<Id>(L, L + nl), std::vector<Id>(R, R + nr),
                                     std::vector<std::uint32_t>(dim_stack_.begin() + base, dim_stack_.end())});
        } else if (kept == 1) {
            sweep_one(L, nl, R, nr, dim_stack_[base]);
        } else if (kept == 2) {
            sweep_two(L, nl, R, nr, dim_stack_[base], dim_stack_[base + 1]);
        } else {
            // Split at a median of the first kept column, moved into [l_min, r_max] so that
            // both halves are non-empty. Low: l <= v and r < v; high: l > v and r >= v. Then
            // every low l is <= every high r in that column, and no high l is <= a low r.
            scratch_.clear();
            for (std::size_t i = 0; i < nl; ++i) scratch_.push_back(p_.x(L[i], split_dim));
            for (std::size_t i = 0; i < nr; ++i) scratch_.push_back(p_.x(R[i], split_dim));
            auto middle = scratch_.begin() + scratch_.size() / 2;
            std::nth_element(scratch_.begin(), middle, scratch_.end());
            const std::uint32_t v = std::clamp(*middle, split_low, split_high);
            const std::size_t l_low = std::partition(L, L + nl, [&](Id q) { return p_.x(q, split_dim) <= v; }) - L;
            const std::size_t r_low = std::partition(R, R + nr, [&](Id q) { return p_.x(q, split_dim) < v; }) - R;
            contribute(L, l_low, R, r_low, base, kept);
            contribute(L + l_low, nl - l_low, R + r_low, nr - r_low, base, kept);
            contribute(L, l_low, R + r_low, nr - r_low, base + 1, kept - 1);
        }
        dim_stack_.resize(base);
    }

    void compare_all(const Id* L, std::size_t nl, const Id* R, std::size_t nr, std::size_t at, std::size_t n) {
        const std::uint32_t* dims = dim_stack_.data() + at;
        for (std::size_t j = 0; j < nr; ++j) {
            const Id r = R[j];
            std::uint32_t best = rank_[r];
            for (std::size_t i = 0; i < nl; ++i) {
                const std::uint32_t candidate = rank_[L[i]] + 1;
                if (candidate > best && below_in(L[i], r, dims, n)) best = candidate;
            }
            rank_.raise(r, best);
        }
    }

    // Sorts ids by one column (ties in any order) through packed 64-bit keys.
    void sort_by(Id* ids, std::size_t count, std::uint32_t d) {
        keys_.resize(count);
        for (std::size_t i = 0; i < count; ++i) keys_[i] = (std::uint64_t{p_.x(ids[i], d)} << 32) | ids[i];
        std::sort(keys_.begin(), keys_.end());
        for (std::size_t i = 0; i < count; ++i) ids[i] = static_cast<Id>(keys_[i]);
    }

    // One column left: walk R in ascending order while taking in every l that is <= it.
    void sweep_one(Id* L, std::size_t nl, Id* R, std::size_t nr, std::uint32_t d) {
        sort_by(L, nl, d);
        sort_by(R, nr, d);
        std::size_t taken = 0;
        std::uint32_t best = 0;  // 1 + largest rank taken in, 0 before any
        for (std::size_t j = 0; j < nr; ++j) {
            while (taken < nl && p_.x(L[taken], d) <= p_.x(R[j], d)) best = std::max(best, rank_[L[taken++]] + 1);
            rank_.raise(R[j], best);
        }
    }

    // Two columns left: the same walk in the first, with a prefix maximum over the second.
    void sweep_two(Id* L, std::size_t nl, Id* R, std::size_t nr, std::uint32_t d1, std::uint32_t d2) {
        sort_by(L, nl, d1);
        sort_by(R, nr, d1);
        scratch_.clear();
        for (std::size_t i = 0; i < nl; ++i) scratch_.push_back(p_.x(L[i], d2));
        std::sort(scratch_.begin(), scratch_.end());
        scratch_.erase(std::unique(scratch_.begin(), scratch_.end()), scratch_.end());
        prefix_max_.reset(scratch_.size());
        std::size_t taken = 0;
        for (std::size_t j = 0; j < nr; ++j) {
            const Id r = R[j];
            for (; taken < nl && p_.x(L[taken], d1) <= p_.x(r, d1); ++taken) {
                const Id l = L[taken];
                const auto slot = std::lower_bound(scratch_.begin(), scratch_.end(), p_.x(l, d2)) - scratch_.begin();
                prefix_max_.raise(slot, rank_[l] + 1);
            }
            const auto end = std::upper_bound(scratch_.begin(), scratch_.end(), p_.x(r, d2)) - scratch_.begin();
            rank_.raise(r, prefix_max_.below(end));
        }
    }

    Points p_;
    Ranks& rank_;
    std::vector<Piece>* pieces_ = nullptr;
    std::size_t piece_size_ = 0;
    std::vector<std::uint32_t> dim_stack_;  // column lists of the active contribute calls
    std::vector<std::uint32_t> scratch_;    // column values, used before any recursion
    std::vector<std::uint64_t> keys_;
    PrefixMax prefix_max_;
};

class ChainRanker {
public:
    ChainRanker(const std::uint32_t* coords, std::size_t count, std::size_t dims)
        : p_{coords, dims}, count_(count), rank_(count), ids_(count), sequential_(p_, rank_) {
        for (std::size_t d = 0; d < dims; ++d) all_dims_.push_back(static_cast<std::uint32_t>(d));
    }

    std::vector<std::uint32_t> run() && {
        parallel_ = count_ >= kParallelFrom && pool::worker_count() > 1;
        settle(0, count_);
        return std::move(rank_).take();
    }

private:
    // Settles the ranks of points lo .. hi-1, given that every point before lo has already
    // raised them.
    void settle(std::size_t lo, std::size_t hi) {
        if (hi - lo <= kOrderedLeaf) {
            for (std::size_t q = lo + 1; q < hi; ++q)
                for (std::size_t p = lo; p < q; ++p)
                    if (sequential_.below_in(Id(p), Id(q), all_dims_.data(), p_.dims)) rank_.raise(Id(q), rank_[Id(p)] + 1);
            return;
        }
        const std::size_t mid = lo + (hi - lo) / 2;
        settle(lo, mid);
        for (std::size_t i = lo; i < hi; ++i) ids_[i - lo] = Id(i);
        Id* L = ids_.data();
        Id* R = ids_.data() + (mid - lo);
        if (parallel_ && hi - lo >= kParallelFrom) contribute_in_parallel(L, mid - lo, R, hi - mid);
        else sequential_.run(L, mid - lo, R, hi - mid, all_dims_.data(), p_.dims);
        settle(mid, hi);
    }

    void contribute_in_parallel(Id* L, std::size_t nl, Id* R, std::size_t nr) {
        std::vector<Piece> pieces;
        Contributor expander(p_, rank_);
        expander.expand_into(&pieces, std::max<std::size_t>((nl + nr) / 16, kParallelFrom / 4));
        expander.run(L, nl, R, nr, all_dims_.data(), p_.dims);
        // Largest first: the pool hands out ranges from the front.
        std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) {
            return a.l.size() + a.r.size() > b.l.size() + b.r.size();
        });
        pool::parallel_for(pieces.size(), [&](std::size_t begin, std::size_t end) {
            Contributor worker(p_, rank_);
            for (std::size_t i = begin; i < end; ++i) {
                Piece& piece = pieces[i];
                worker.run(piece.l.data(), piece.l.size(), piece.r.data(), piece.r.size(), piece.dims.data(),
                           piece.dims.size());
            }
        });
    }

    Points p_;
    std::size_t count_;
    Ranks rank_;
    std::vector<Id> ids_;  // L and R of the current outer step
    std::vector<std::uint32_t> all_dims_;
    Contributor sequential_;
    bool parallel_ = false;
};

}  // namespace

std::vector<std::uint32_t> divide_and_conquer_ranks(const std::uint32_t* coords, std::size_t count,
                                                    std::size_t dims) {
    return ChainRanker(coords, count, dims).run();
}

}  // namespace rc::algorithm::nds
