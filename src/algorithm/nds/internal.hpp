// The pieces of non-dominated sorting, shared by the files of this folder.
//
// Two algorithms compute the same fronts. The classic one compares every pair of rows, keeps
// each row's dominated list and peels fronts off; it is the definition and the only one that
// copes with NaN, where dominance can be cyclic. Without NaN, dominance is a strict partial
// order and peeling gives every row the front index equal to the length of the longest chain
// of rows dominating it; the fast path computes exactly that with O(n * m) memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "algorithm/nds.hpp"

namespace rc::algorithm::nds {

// Objective j of row i as every pass of sorting reads it: -0.0 + 0.0 is +0.0, so that values
// that compare equal have equal bits; everything else, NaN included, is unchanged.
inline double objective(const MatrixView& f, std::size_t i, std::size_t j) noexcept { return f(i, j) + 0.0; }

// The objective matrix copied row-major for the classic scan, with -0.0 turned into +0.0 (the
// two compare equal anyway). NaN stays NaN.
struct Objectives {
    std::vector<double> values;
    std::size_t rows = 0;
    std::size_t cols = 0;

    const double* row(std::size_t i) const noexcept { return values.data() + i * cols; }
};

Objectives copy_objectives(const MatrixView& f);

// Pairwise dominance scan on the worker pool, then front peeling with the cyclic-front rule.
Fronts classic_fronts(const Objectives& f);

// How NaN-free input is ranked. RC_NDS=classic, =lists or =tree forces one method on every
// call (the last two for four or more objectives: the front search over front lists or over a
// k-d tree) so that tests can compare them on the same input; by default the input picks.
enum class Method { automatic, classic, front_lists, front_tree };
Method method_setting();

// The front index of every row, by longest dominator chain, read from the caller's matrix
// without a copy: each value is read once per pass, -0.0 as +0.0, and every pass keeps what
// it read, so a value changing under it cannot make a sort inconsistent. Nothing when a NaN
// turns up: then dominance may be cyclic, and only the classic scan applies.
std::optional<std::vector<std::uint32_t>> chain_ranks(const MatrixView& f, Method method);

// Coordinates of `count` points in `dims` columns, column after column.
struct PointColumns {
    std::vector<std::uint32_t> values;
    std::size_t count = 0;
    std::size_t dims = 0;
    std::uint32_t largest = 0;  // no coordinate is larger

    std::uint32_t at(std::size_t column, std::size_t point) const noexcept { return values[column * count + point]; }
};

// Points in the sample whose fronts choose how the front search runs: evenly spread over the
// order.
constexpr std::size_t kSampleSize = 1024;

// Whether the front search of `count` points wants the number of fronts of a sample: to choose
// its index, or how two or more workers share it.
bool wants_sample(std::size_t count, Method method);

// The number of fronts of distinct points in lexicographic order (0 for none), by the front
// lists.
std::size_t sample_fronts(const PointColumns& sample);

// Longest-chain ranks (from 0) of distinct points given in lexicographic order, by front
// search: a point can only dominate later points, and does so exactly when its coordinate is
// <= the other's in every column of `columns` (the objectives after the first, every
// coordinate below UINT32_MAX). `method` may force the front lists or the k-d tree as the
// index of placed points; `sampled_fronts` are the sample's fronts where wants_sample(count,
// method) holds.
std::vector<std::uint32_t> front_search_ranks(const PointColumns& columns, std::size_t count, Method method,
                                              std::size_t sampled_fronts);

// Groups rows by front index (0 = first front), ascending within each front.
Fronts fronts_from_ranks(const std::vector<std::uint32_t>& rank_of_row);

}  // namespace rc::algorithm::nds
