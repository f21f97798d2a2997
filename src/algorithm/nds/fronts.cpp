// Non-dominated sorting's entry, which sends input to the fast chain ranks and what they turn
// down (a NaN), with a few rows with more objectives than rows, to the pairwise classic path
// on a copy of the objectives; and the fronts from ranks that both paths build.
#include "algorithm/nds.hpp"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "algorithm/nds/internal.hpp"
#include "platform/environment.hpp"
#include "platform/interface_names.hpp"
#include "pool/worker_pool.hpp"

namespace rc::algorithm {
namespace nds {

Objectives copy_objectives(const MatrixView& f) {
    Objectives out;
    out.rows = f.extent(0);
    out.cols = f.extent(1);
    out.values.resize(allocatable_count<double>(checked_mul(out.rows, out.cols)));
    double* dst = out.values.data();
    for (std::size_t i = 0; i < out.rows; ++i)
        for (std::size_t k = 0; k < out.cols; ++k) *dst++ = objective(f, i, k);
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

// The RC_NDS setting (tests only), read through the environment layer on every call.
std::string_view method_variable() { return environment::nds_method(); }

// A few rows with more objectives than rows (2 x 1,000,000, 50 x 2,000): comparing every pair
// of rows costs less than ranking every column, which the other methods start with.
bool few_rows_many_objectives(std::size_t rows, std::size_t cols) {
    constexpr std::size_t kFewRows = 64;
    return rows <= kFewRows && cols > rows;
}

}  // namespace

Method method_setting() {
    const std::string_view mode = method_variable();
    if (mode == names::kClassicNds) return Method::classic;
    if (mode == "lists") return Method::front_lists;
    if (mode == "tree") return Method::front_tree;
    return Method::automatic;
}

}  // namespace nds

Fronts non_dominated_fronts(const MatrixView& f) {
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
    // Row ids of the fast path are 32-bit; a larger input would not fit in memory anyway, but
    // it would still be sorted correctly by the classic path.
    const nds::Method method = nds::method_setting();
    const bool classic = rows > UINT32_MAX || method == nds::Method::classic ||
                         (method == nds::Method::automatic && nds::few_rows_many_objectives(rows, f.extent(1)));
    if (!classic) {
        // The classic scan creates the worker pool on the first call with rows; the fast path
        // does the same, so that which path ran is not visible in the process's threads.
        pool::worker_count();
        if (auto ranks = nds::chain_ranks(f, method)) return nds::fronts_from_ranks(*ranks);
    }
    return nds::classic_fronts(nds::copy_objectives(f));
}

}  // namespace rc::algorithm
