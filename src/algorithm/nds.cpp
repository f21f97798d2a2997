#include "algorithm/nds.hpp"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "algorithm/nds_internal.hpp"
#include "environment.hpp"
#include "worker_pool.hpp"

namespace rc::algorithm {
namespace nds {

Objectives copy_objectives(const MatrixView& f) {
    Objectives out;
    out.rows = f.extent(0);
    out.cols = f.extent(1);
    out.values.resize(allocatable_count<double>(checked_mul(out.rows, out.cols)));
    double* dst = out.values.data();
    bool nan = false;
    for (std::size_t i = 0; i < out.rows; ++i) {
        for (std::size_t k = 0; k < out.cols; ++k) {
            const double v = f(i, k) + 0.0;  // -0.0 + 0.0 is +0.0; everything else unchanged
            nan |= std::isnan(v);
            *dst++ = v;
        }
    }
    out.has_nan = nan;
    return out;
}

Fronts fronts_from_ranks(const std::vector<std::uint32_t>& rank_of_row) {
    std::vector<std::size_t> size;
    for (std::uint32_t r : rank_of_row) {
        if (r >= size.size()) size.resize(r + 1, 0);
        ++size[r];
    }
    Fronts fronts;
    fronts.reserve(size.size());
    for (std::size_t s : size) fronts.push_back(Buffer<std::int64_t>::uninitialized(s));
    std::vector<std::size_t> filled(size.size(), 0);
    for (std::size_t i = 0; i < rank_of_row.size(); ++i) {
        const std::uint32_t r = rank_of_row[i];
        fronts[r][filled[r]++] = static_cast<std::int64_t>(i);
    }
    return fronts;
}

namespace {

// RC_NDS=classic makes every call take the classic path, so that tests can compare both
// paths on the same NaN-free input. Read on every call; not meant for production use.
bool classic_forced() { return environment::classic_nds(); }

}  // namespace
}  // namespace nds

Fronts fast_non_dominated_sort_impl(const MatrixView& f) {
    // No rows, no fronts. No objectives: no row dominates another, so all of them form the
    // first front; answered before any per-row work, which would otherwise grow with rows that
    // hold nothing (a zero-stride view can have any number of them).
    const std::size_t rows = f.extent(0);
    if (rows == 0) return {};
    if (f.extent(1) == 0) {
        pool::worker_count();  // as the scans below do: created by any call with rows
        Fronts fronts;
        fronts.push_back(Buffer<std::int64_t>::uninitialized(rows));
        for (std::size_t i = 0; i < rows; ++i) fronts[0][i] = static_cast<std::int64_t>(i);
        return fronts;
    }
    const nds::Objectives objectives = nds::copy_objectives(f);
    // Row ids of the fast path are 32-bit; a larger input would not fit in memory anyway, but
    // it would still be sorted correctly by the classic path.
    if (objectives.has_nan || objectives.rows > UINT32_MAX || nds::classic_forced())
        return nds::classic_fronts(objectives);
    // The classic scan creates the worker pool on the first call with rows; the fast path
    // does the same, so that which path ran is not visible in the process's threads.
    pool::worker_count();
    return nds::fronts_from_ranks(nds::chain_ranks(objectives));
}

}  // namespace rc::algorithm
