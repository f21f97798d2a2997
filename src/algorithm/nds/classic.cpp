// The classic fast non-dominated sort: every row compared with every other (in parallel, one
// task per row), then fronts peeled off with domination counts.
#include <cstdint>
#include <utility>
#include <vector>

#include "algorithm/nds/internal.hpp"
#include "pool/worker_pool.hpp"

namespace rc::algorithm::nds {
namespace {

// What one row learns from comparing itself with every other row.
template <class Index>
struct RowScan {
    std::vector<Index> dominated;  // rows this one dominates, ascending
    std::size_t dominated_by = 0;  // number of rows that dominate this one
};

template <class Index>
RowScan<Index> scan_row(const Objectives& f, std::size_t i) {
    RowScan<Index> scan;
    const double* a = f.row(i);
    for (std::size_t j = 0; j < f.rows; ++j) {
        if (j == i) continue;
        const double* b = f.row(j);
        // Strict comparisons only: equal values and NaN on either side favour nobody.
        bool a_better = false, b_better = false;
        for (std::size_t k = 0; k < f.cols; ++k) {
            a_better |= a[k] < b[k];
            b_better |= b[k] < a[k];
        }
        if (a_better && !b_better) scan.dominated.push_back(static_cast<Index>(j));
        else if (b_better && !a_better) ++scan.dominated_by;
    }
    return scan;
}

// The rows whose flag is set and, unless `all`, whose domination count is zero, ascending.
Buffer<std::int64_t> collect(const std::vector<bool>& remaining, const std::vector<std::size_t>& count,
                             bool all) {
    auto selected = [&](std::size_t i) { return remaining[i] && (all || count[i] == 0); };
    std::size_t size = 0;
    for (std::size_t i = 0; i < remaining.size(); ++i) size += selected(i);
    auto front = Buffer<std::int64_t>::uninitialized(size);
    std::size_t next = 0;
    for (std::size_t i = 0; i < remaining.size(); ++i)
        if (selected(i)) front[next++] = static_cast<std::int64_t>(i);
    return front;
}

template <class Index>
Fronts peel(std::vector<RowScan<Index>>& scans) {
    const std::size_t n = scans.size();
    std::vector<std::size_t> count(n);
    for (std::size_t i = 0; i < n; ++i) count[i] = scans[i].dominated_by;
    std::vector<bool> remaining(n, true);
    std::size_t left = n;
    Fronts fronts;
    while (left > 0) {
        auto front = collect(remaining, count, false);
        if (front.size() == 0) {
            // Only NaN can make dominance cyclic: every remaining row has a remaining
            // dominator. They all go into one last front.
            fronts.push_back(collect(remaining, count, true));
            break;
        }
        for (std::int64_t p : front) {
            remaining[p] = false;
            for (Index q : scans[p].dominated)
                if (remaining[q] && count[q] > 0) --count[q];
            std::vector<Index>().swap(scans[p].dominated);  // never needed again
        }
        left -= front.size();
        fronts.push_back(std::move(front));
    }
    return fronts;
}

template <class Index>
Fronts classic_fronts_with(const Objectives& f) {
    auto scans = pool::parallel_map(f.rows, [&](std::size_t i) { return scan_row<Index>(f, i); });
    return peel(scans);
}

}  // namespace

Fronts classic_fronts(const Objectives& f) {
    // 32-bit dominated lists halve the memory of the largest structure whenever they can.
    if (f.rows <= UINT32_MAX) return classic_fronts_with<std::uint32_t>(f);
    return classic_fronts_with<std::size_t>(f);
}

}  // namespace rc::algorithm::nds
