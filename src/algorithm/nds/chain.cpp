// Non-dominated sorting without the pairwise matrix, for input without NaN (a NaN met on the
// way hands the call back to the classic scan).
//
// Without NaN, row a dominates row b exactly when a <= b in every objective and a != b, a
// strict partial order; peeling then puts every row into the front whose index is the length
// of the longest chain of rows dominating it (the rows of front k + 1 each have a dominator in
// front k, and nothing in a later front dominates anything in an earlier one). That is what is
// computed here, on the distinct rows in lexicographic order: equal rows never dominate one
// another and share their front, and a row can only be dominated by rows before it.
#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <optional>
#include <ranges>
#include <utility>
#include <vector>

#include "algorithm/nds/internal.hpp"
#include "pool/worker_pool.hpp"

namespace rc::algorithm::nds {
namespace {

struct KeyedRow {
    std::uint64_t key;
    std::uint32_t row;
};

// An unsigned integer with the order of the double (valid without NaN and with -0.0 gone).
std::uint64_t order_key(double value) noexcept {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    constexpr std::uint64_t sign = std::uint64_t{1} << 63;
    return (bits & sign) != 0 ? ~bits : bits | sign;
}

// Sorts by key: a least-significant-digit radix sort on the upper three or four bytes of the
// keys, a byte at a time, skipping bytes that every key shares (for values of one scale most of them), and
// then a comparison sort of each run of keys that agree in those bytes but not in full
// (values that close are rare, and equal values need no sorting). A few items are sorted by
// comparison alone: histograms would cost more than they do, once per objective (a matrix of
// two rows and a million objectives took seconds). Only the key order matters to the
// callers, not the order of equal keys.
class KeySorter {
public:
    void sort(std::vector<KeyedRow>& items) {
        constexpr std::size_t kComparisonSortBelow = 64;
        constexpr std::size_t kThreeBytesBelow = 4096;
        auto by_key = [](const KeyedRow& a, const KeyedRow& b) { return a.key < b.key; };
        const std::size_t n = items.size();
        if (n < kComparisonSortBelow) {
            std::sort(items.begin(), items.end(), by_key);
            return;
        }
        // The radix part sorts by the top `bytes` bytes: three leave few close pairs among a
        // few thousand values, four among more.
        const int bytes = n < kThreeBytesBelow ? 3 : 4;
        const int shift = 64 - 8 * bytes;
        std::fill(&histogram_[0][0], &histogram_[0][0] + 4 * 256, std::size_t{0});
        for (const auto& item : items) {
            const auto high = static_cast<std::uint32_t>(item.key >> 32);
            ++histogram_[0][high & 0xff];
            ++histogram_[1][(high >> 8) & 0xff];
            ++histogram_[2][(high >> 16) & 0xff];
            ++histogram_[3][high >> 24];
        }
        sorted_.resize(n);
        for (int byte = 4 - bytes; byte < 4; ++byte) {
            std::size_t* count = histogram_[byte];
            if (std::find(count, count + 256, n) != count + 256) continue;
            std::size_t start = 0;
            for (int digit = 0; digit < 256; ++digit) start += std::exchange(count[digit], start);
            for (const auto& item : items) sorted_[count[(item.key >> (32 + 8 * byte)) & 0xff]++] = item;
            items.swap(sorted_);
        }
        for (std::size_t begin = 0, end; begin < n; begin = end) {
            bool all_equal = true;
            for (end = begin + 1; end < n && (items[end].key >> shift) == (items[begin].key >> shift); ++end)
                all_equal &= items[end].key == items[begin].key;
            if (!all_equal) std::sort(items.begin() + begin, items.begin() + end, by_key);
        }
    }

private:
    std::size_t histogram_[4][256];
    std::vector<KeyedRow> sorted_;
};

// Sorts rows by a column's value through buckets: bucket(v) = floor((v - lo) * n / (hi - lo))
// over the finite range [lo, hi] (infinities in the end buckets), a non-decreasing function of
// v under round-to-nearest, so buckets in order, each sorted by its full keys, are the whole
// order. Evenly spread values leave about one row per bucket: a counting sort and a few
// comparisons, no per-byte passes. Declines (false) when the range or its inverse overflows;
// crowded buckets only cost a comparison sort of their rows.
class BucketSorter {
public:
    // `lo` and `hi`: the smallest and largest finite values of the column (lo > hi if none).
    bool sort(const double* value, std::size_t n, double lo, double hi, std::vector<KeyedRow>& items) {
        const std::size_t buckets = n;
        double scale = 0.0;
        if (hi > lo) {
            scale = static_cast<double>(buckets) / (hi - lo);
            if (!std::isfinite(hi - lo) || !std::isfinite(scale)) return false;
        }
        bucket_.resize(n);
        end_.assign(buckets + 1, 0);
        for (std::size_t i = 0; i < n; ++i) {
            const double v = value[i];
            std::size_t b = 0;
            if (v >= hi) {
                b = buckets - 1;
            } else if (v > lo) {
                const double at = (v - lo) * scale;
                b = at < static_cast<double>(buckets) ? static_cast<std::size_t>(at) : buckets - 1;
            }
            bucket_[i] = static_cast<std::uint32_t>(b);
            ++end_[b + 1];
        }
        std::partial_sum(end_.begin(), end_.end(), end_.begin());
        items.resize(n);
        for (std::uint32_t i = 0; i < n; ++i) items[end_[bucket_[i]]++] = {order_key(value[i]), i};
        // end_[b] is now where bucket b ends, and bucket b starts where b - 1 ends. Crowded
        // buckets are sorted alone; then one insertion pass over all rows sorts the small
        // ones: it moves a row only within its bucket, and in this nearly sorted order its
        // comparisons are mostly the predictable "already in place".
        auto by_key = [](const KeyedRow& a, const KeyedRow& b) { return a.key < b.key; };
        constexpr std::size_t kCrowded = 16;
        for (std::size_t b = 0, begin = 0; b < buckets; begin = end_[b++])
            if (end_[b] - begin > kCrowded) std::sort(items.begin() + begin, items.begin() + end_[b], by_key);
        for (std::size_t k = 1; k < n; ++k) {
            if (!(items[k].key < items[k - 1].key)) continue;
            const KeyedRow item = items[k];
            std::size_t at = k;
            for (; at > 0 && item.key < items[at - 1].key; --at) items[at] = items[at - 1];
            items[at] = item;
        }
        return true;
    }

private:
    std::vector<std::uint32_t> bucket_;
    std::vector<std::uint32_t> end_;
};

// Rows in order of their first two objectives, and the ranges [begin, end) of that order
// holding rows equal in both.
struct FirstTwoOrder {
    std::vector<std::uint32_t> order;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ties;
};

// Objective j of row i as its dense rank among the column's values (equal values, equal
// ranks), at column[j * rows + i]; also the number of distinct values of each column (0 for a
// column holding a NaN, whose ranks are left unfinished, and whether it did), and the order by
// the first two columns when the ranking computed it beside the others.
struct DenseColumns {
    std::vector<std::uint32_t> rank;
    std::vector<std::uint32_t> distinct;
    std::vector<std::uint8_t> nan;
    std::optional<FirstTwoOrder> first_two;
    const std::uint32_t* column(std::size_t j, std::size_t rows) const noexcept { return rank.data() + j * rows; }
    bool has_nan() const noexcept { return std::find(nan.begin(), nan.end(), 1) != nan.end(); }
};

// Up to this many rows a column is sorted through buckets, beyond it by the radix sort: buckets
// measured faster at 200 to 700 rows (by 2 to 4 us a column) and slower from 1,000, where the
// rows sharing a bucket cost more mispredicted branches than the radix passes do.
constexpr std::size_t kBucketSortUpTo = 800;

// The smallest and largest finite value of every column: one pass over the rows, the columns
// side by side (independent chains); a column holding an infinity is passed again alone.
void finite_ranges(const MatrixView& f, std::vector<double>& lo, std::vector<double>& hi) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const std::size_t rows = f.extent(0), cols = f.extent(1);
    lo.assign(cols, inf);
    hi.assign(cols, -inf);
    for (std::size_t i = 0; i < rows; ++i) {
        for (std::size_t j = 0; j < cols; ++j) {
            const double v = objective(f, i, j);
            lo[j] = v < lo[j] ? v : lo[j];
            hi[j] = v > hi[j] ? v : hi[j];
        }
    }
    for (std::size_t j = 0; j < cols; ++j) {
        if (lo[j] != -inf && hi[j] != inf) continue;
        lo[j] = inf;
        hi[j] = -inf;
        for (std::size_t i = 0; i < rows; ++i) {
            const double v = objective(f, i, j);
            if (v == inf || v == -inf) continue;
            lo[j] = std::min(lo[j], v);
            hi[j] = std::max(hi[j], v);
        }
    }
}

// Runs of equal first values this long on average go to the counting sorts, which take a pass
// per column: with a first column of 10 values at 50,000 x 5 they took 0.76 of the
// comparisons' time, of 3 values at 20,000 x 8 0.48, while rounded shells' runs of 5 to 11 took
// 0.96-0.99 of their time by comparisons from four columns, and 1.016 times it in three.
bool long_runs(const DenseColumns& dense, std::size_t rows, std::size_t cols) {
    return dense.distinct[0] * (cols > 3 ? 16 : 2) < rows;
}

// Rows of `in` stably sorted by key[row] (values 0 to values - 1) into `out`; `at` is left
// holding where the rows of each value end.
template <class Rows>
void counting_sort(const std::uint32_t* key, std::uint32_t values, const Rows& in, std::uint32_t* out,
                   std::vector<std::uint32_t>& at) {
    at.assign(std::size_t{values} + 1, 0);
    for (std::uint32_t row : in) ++at[key[row] + 1];
    std::partial_sum(at.begin(), at.end(), at.begin());
    for (std::uint32_t row : in) out[at[key[row]]++] = row;
}

// Rows by their first two columns, rows equal in both in row order, and the runs of such rows.
// Where first values repeat (runs of 1.25 rows on average or more), a counting sort by the
// second column and then one by the first, which keeps that order within each run. Otherwise a
// counting sort by the first, then each run of equal first values sorted by (second rank, row)
// keys gathered once beside the rows, so that comparisons read neighbouring integers. On
// rounded shells the two counting sorts took the lexicographic order 0.9 of the runs' sorting
// time at 10,000 rows (runs of 1.6 to 1.9), 0.7 at 50,000 (4.8), 0.6 at 100,000 (10); with
// distinct first values (every run one row) 1.4 times it, its pass by the second column wasted.
FirstTwoOrder order_by_first_two(const DenseColumns& dense, std::size_t rows) {
    FirstTwoOrder out;
    out.order.resize(rows);
    const std::uint32_t* first = dense.column(0, rows);
    const std::uint32_t* second = dense.column(1, rows);
    const auto all_rows = std::views::iota(std::uint32_t{0}, static_cast<std::uint32_t>(rows));
    std::vector<std::uint32_t> at;  // then where each run of equal first values ends
    if (4 * rows >= 5 * std::size_t{dense.distinct[0]}) {
        std::vector<std::uint32_t> by_second(rows);
        counting_sort(second, dense.distinct[1], all_rows, by_second.data(), at);
        counting_sort(first, dense.distinct[0], by_second, out.order.data(), at);
        for (std::size_t k = 0, tie_end; k < rows; k = tie_end) {
            const std::uint32_t row = out.order[k];
            for (tie_end = k + 1; tie_end < rows && first[out.order[tie_end]] == first[row] &&
                                  second[out.order[tie_end]] == second[row];
                 ++tie_end) {}
            if (tie_end - k > 1) out.ties.emplace_back(static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(tie_end));
        }
        return out;
    }
    counting_sort(first, dense.distinct[0], all_rows, out.order.data(), at);
    std::vector<std::uint64_t> keyed;  // (second rank, row) of a run
    for (std::size_t v = 0, begin = 0; v < dense.distinct[0]; begin = at[v++]) {
        if (at[v] - begin < 2) continue;
        keyed.clear();
        for (std::size_t k = begin; k < at[v]; ++k)
            keyed.push_back(std::uint64_t{second[out.order[k]]} << 32 | out.order[k]);
        // A comparator of our own: the default order on plain integers would link the C++
        // library's prebuilt sort, and with it zig's runtime copies of memcpy and memset.
        std::sort(keyed.begin(), keyed.end(), [](std::uint64_t a, std::uint64_t b) { return a < b; });
        for (std::size_t k = 0, tie_end; k < keyed.size(); k = tie_end) {
            out.order[begin + k] = static_cast<std::uint32_t>(keyed[k]);
            for (tie_end = k + 1; tie_end < keyed.size() && keyed[tie_end] >> 32 == keyed[k] >> 32; ++tie_end)
                out.order[begin + tie_end] = static_cast<std::uint32_t>(keyed[tie_end]);
            if (tie_end - k > 1)
                out.ties.emplace_back(static_cast<std::uint32_t>(begin + k), static_cast<std::uint32_t>(begin + tie_end));
        }
    }
    return out;
}

// From this many rows, with two or more workers, the columns are ranked side by side on the
// pool (each column's ranks are the same whoever computes them).
constexpr std::size_t kColumnsInParallelFrom = 4096;

DenseColumns dense_columns(const MatrixView& f) {
    const std::size_t rows = f.extent(0), cols = f.extent(1);
    DenseColumns dense;
    dense.rank.resize(checked_mul(rows, cols));
    dense.distinct.resize(cols);
    dense.nan.resize(cols);
    const bool bucket_sort = rows <= kBucketSortUpTo;
    std::vector<double> lo, hi;
    if (bucket_sort) finite_ranges(f, lo, hi);
    auto rank_columns = [&](std::size_t begin, std::size_t end) {
        std::vector<KeyedRow> items(rows);
        std::vector<double> column(bucket_sort ? rows : 0);
        KeySorter sorter;
        BucketSorter buckets;
        for (std::size_t j = begin; j < end; ++j) {
            bool sorted = false, nan = false;
            if (bucket_sort) {
                for (std::size_t i = 0; i < rows; ++i) {
                    column[i] = objective(f, i, j);
                    nan |= std::isnan(column[i]);
                }
                sorted = nan || buckets.sort(column.data(), rows, lo[j], hi[j], items);
            }
            if (!sorted) {
                for (std::uint32_t i = 0; i < rows; ++i) {
                    const double v = objective(f, i, j);
                    nan |= std::isnan(v);
                    items[i] = {order_key(v), i};
                }
                if (!nan) sorter.sort(items);
            }
            if (nan) {
                dense.nan[j] = 1;
                continue;
            }
            std::uint32_t* out = dense.rank.data() + j * rows;
            std::uint32_t value = 0;
            for (std::size_t k = 0; k < items.size(); ++k) {
                if (k > 0 && items[k].key != items[k - 1].key) ++value;
                out[items[k].row] = value;
            }
            dense.distinct[j] = value + 1;
        }
    };
    if (rows < kColumnsInParallelFrom || cols < 2 || pool::worker_count() < 2) {
        rank_columns(0, cols);
        return dense;
    }
    // The columns are taken one at a time, in order; in three or more, one more task orders the
    // rows by the first two as soon as both are ranked, beside the ranking of the rest (which
    // would otherwise leave a worker idle at an odd number of columns, and the order to the
    // calling thread alone). It waits only for columns taken before it, which end however
    // they end: their counts go up in a destructor.
    const std::size_t tasks = cols > 2 ? cols + 1 : cols;
    std::atomic<std::size_t> next_task{0}, first_two_ended{0};
    pool::parallel_for(pool::worker_count(), [&](std::size_t, std::size_t) {
        for (std::size_t task; (task = next_task.fetch_add(1, std::memory_order_relaxed)) < tasks;) {
            if (pool::stop_requested()) return;
            if (task < 2) {
                pool::CountOnExit ended{first_two_ended};
                rank_columns(task, task + 1);
            } else if (task < cols) {
                rank_columns(task, task + 1);
            } else {
                if (!pool::wait_for_count(first_two_ended, 2)) return;
                // Not after a NaN or a failure (no distinct count), nor where counting sorts win.
                if (dense.distinct[0] > 0 && dense.distinct[1] > 0 && !long_runs(dense, rows, cols))
                    dense.first_two = order_by_first_two(dense, rows);
            }
        }
    });
    return dense;
}

// Rows in lexicographic order of their objectives (three or more). With short runs of equal
// first values (the common case: distinct or rounded values): the order by the first two
// columns (taken from `dense` when the ranking computed it), then rows tied in both by the
// remaining columns. With long runs (objectives on a coarse grid) stable counting sorts by the
// last column, then the one before, and so on to the first, cost less than comparisons.
std::vector<std::uint32_t> lexicographic_order(DenseColumns& dense, std::size_t rows, std::size_t cols) {
    if (long_runs(dense, rows, cols)) {
        std::vector<std::uint32_t> order(rows), next(rows), at;
        std::iota(order.begin(), order.end(), 0u);
        for (std::size_t j = cols; j-- > 0;) {
            counting_sort(dense.column(j, rows), dense.distinct[j], order, next.data(), at);
            order.swap(next);
        }
        return order;
    }
    FirstTwoOrder by_two = dense.first_two ? std::move(*dense.first_two) : order_by_first_two(dense, rows);
    auto rest_less = [&](std::uint32_t a, std::uint32_t b) {
        for (std::size_t j = 2; j < cols; ++j) {
            const std::uint32_t* key = dense.column(j, rows);
            if (key[a] != key[b]) return key[a] < key[b];
        }
        return false;
    };
    for (const auto& [begin, end] : by_two.ties)
        std::sort(by_two.order.begin() + begin, by_two.order.begin() + end, rest_less);
    return std::move(by_two.order);
}

struct DistinctRows {
    std::vector<std::uint32_t> first_row;  // one row of each distinct value, in lexicographic order
    std::vector<std::uint32_t> of_row;     // position in first_row of every input row
};

bool same_row(const DenseColumns& dense, std::size_t rows, std::size_t cols, std::uint32_t a, std::uint32_t b) {
    for (std::size_t j = 0; j < cols; ++j)
        if (dense.column(j, rows)[a] != dense.column(j, rows)[b]) return false;
    return true;
}

// `order`: the rows in lexicographic order.
DistinctRows distinct_rows(const DenseColumns& dense, std::size_t rows, std::size_t cols,
                           const std::vector<std::uint32_t>& order) {
    DistinctRows distinct;
    distinct.of_row.resize(rows);
    for (std::size_t k = 0; k < rows; ++k) {
        if (k == 0 || !same_row(dense, rows, cols, order[k], order[k - 1])) distinct.first_row.push_back(order[k]);
        distinct.of_row[order[k]] = static_cast<std::uint32_t>(distinct.first_row.size() - 1);
    }
    return distinct;
}

// The objectives after the first of `points` (rows of distinct points in lexicographic order),
// as the front search takes them.
PointColumns point_columns(const DenseColumns& dense, std::size_t rows, std::size_t cols,
                           const std::vector<std::uint32_t>& points) {
    PointColumns columns;
    columns.count = points.size();
    columns.dims = cols - 1;
    for (std::size_t j = 1; j < cols; ++j) columns.largest = std::max(columns.largest, dense.distinct[j] - 1);
    columns.values.resize(checked_mul(columns.count, columns.dims));
    for (std::size_t j = 1; j < cols; ++j)
        for (std::size_t p = 0; p < columns.count; ++p)
            columns.values[(j - 1) * columns.count + p] = dense.column(j, rows)[points[p]];
    return columns;
}

// The sample's fronts, its points evenly spread over `order` (rows in lexicographic order,
// which may repeat a point). A row equal to the one drawn before it is left out: equal rows
// sit side by side in that order, so the rest are distinct.
std::size_t fronts_of_sample(const DenseColumns& dense, std::size_t rows, std::size_t cols,
                             const std::vector<std::uint32_t>& order) {
    std::vector<std::uint32_t> drawn;
    drawn.reserve(kSampleSize);
    for (std::size_t i = 0; i < kSampleSize; ++i) {
        const std::uint32_t row = order[i * order.size() / kSampleSize];
        if (drawn.empty() || !same_row(dense, rows, cols, drawn.back(), row)) drawn.push_back(row);
    }
    return sample_fronts(point_columns(dense, rows, cols, drawn));
}

// Two objectives: every earlier distinct point is <= in the first objective, so a point is
// dominated by a member of front k exactly when that front's smallest second objective so
// far is <= its own. Those minima grow with k (each member of front k + 1 has a dominator in
// front k), so the point's front is found by binary search, and it becomes that front's
// minimum.
template <class Key>
std::vector<std::uint32_t> two_objective_ranks(const std::vector<Key>& second) {
    std::vector<Key> front_minimum;
    std::vector<std::uint32_t> rank(second.size());
    for (std::size_t p = 0; p < second.size(); ++p) {
        const auto at = std::upper_bound(front_minimum.begin(), front_minimum.end(), second[p]);
        rank[p] = static_cast<std::uint32_t>(at - front_minimum.begin());
        if (at == front_minimum.end()) front_minimum.push_back(second[p]);
        else *at = second[p];
    }
    return rank;
}

// Three objectives: the same search over fronts, where each front keeps the staircase of its
// members' minimal (second, third) pairs: second ascending, third strictly descending. A point
// is dominated by the front when the step with the largest second <= its own has a third <=
// its own. If front k + 1 holds a dominator, so does front k, so the fronts holding one are a
// prefix and binary search finds the first that does not.
class Staircase {
public:
    bool dominates(std::uint32_t y, std::uint32_t z) const {
        auto it = std::upper_bound(steps_.begin(), steps_.end(), y,
                                   [](std::uint32_t v, const Step& s) { return v < s.y; });
        return it != steps_.begin() && std::prev(it)->z <= z;
    }
    // Adds a point the staircase does not dominate; removes the steps it covers (a run
    // starting at the first step with second >= y).
    void add(std::uint32_t y, std::uint32_t z) {
        auto first = std::lower_bound(steps_.begin(), steps_.end(), y,
                                      [](const Step& s, std::uint32_t v) { return s.y < v; });
        auto last = first;
        while (last != steps_.end() && last->z >= z) ++last;
        if (first != last) {
            *first = Step{y, z};
            steps_.erase(first + 1, last);
        } else {
            steps_.insert(first, Step{y, z});
        }
    }

private:
    struct Step {
        std::uint32_t y, z;
    };
    std::vector<Step> steps_;  // y ascending, z strictly descending
};

// `points`: the second and third objectives of the distinct points, in lexicographic order.
std::vector<std::uint32_t> three_objective_ranks(const PointColumns& points) {
    const std::uint32_t* second = points.values.data();
    const std::uint32_t* third = second + points.count;
    std::vector<Staircase> fronts;
    std::vector<std::uint32_t> rank(points.count);
    for (std::size_t p = 0; p < points.count; ++p) {
        std::size_t lo = 0, hi = fronts.size();
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (fronts[mid].dominates(second[p], third[p])) lo = mid + 1;
            else hi = mid;
        }
        if (lo == fronts.size()) fronts.emplace_back();
        fronts[lo].add(second[p], third[p]);
        rank[p] = static_cast<std::uint32_t>(lo);
    }
    return rank;
}

// Two objectives straight from the order keys, without dense ranks: rows sorted by the first
// objective (ties by the second), each repeat of a row ranked as the row itself, the others
// swept as in two_objective_ranks. Nothing if a value is NaN.
std::optional<std::vector<std::uint32_t>> two_objective_chain(const MatrixView& f) {
    const std::size_t rows = f.extent(0);
    std::vector<KeyedRow> items(rows);
    std::vector<std::uint64_t> second_key(rows);
    bool nan = false;
    for (std::uint32_t i = 0; i < rows; ++i) {
        const double x = objective(f, i, 0), y = objective(f, i, 1);
        nan |= std::isnan(x) | std::isnan(y);
        items[i] = {order_key(x), i};
        second_key[i] = order_key(y);
    }
    if (nan) return std::nullopt;
    KeySorter().sort(items);
    auto second = [&](const KeyedRow& item) { return second_key[item.row]; };
    for (std::size_t begin = 0, end; begin < rows; begin = end) {
        for (end = begin + 1; end < rows && items[end].key == items[begin].key; ++end) {}
        if (end - begin > 1)
            std::sort(items.begin() + begin, items.begin() + end,
                      [&](const KeyedRow& a, const KeyedRow& b) { return second(a) < second(b); });
    }
    std::vector<std::uint64_t> distinct_second;
    std::vector<std::uint32_t> distinct_of(rows);
    for (std::size_t k = 0; k < rows; ++k) {
        const bool repeat = k > 0 && items[k].key == items[k - 1].key && second(items[k]) == second(items[k - 1]);
        if (!repeat) distinct_second.push_back(second(items[k]));
        distinct_of[k] = static_cast<std::uint32_t>(distinct_second.size() - 1);
    }
    const auto distinct_rank = two_objective_ranks(distinct_second);
    std::vector<std::uint32_t> rank_of_row(rows);
    for (std::size_t k = 0; k < rows; ++k) rank_of_row[items[k].row] = distinct_rank[distinct_of[k]];
    return rank_of_row;
}

}  // namespace

std::optional<std::vector<std::uint32_t>> chain_ranks(const MatrixView& f, Method method) {
    const std::size_t rows = f.extent(0), cols = f.extent(1);
    // No objective: all rows are equal and share the first front.
    if (cols == 0) return std::vector<std::uint32_t>(rows, 0);
    if (cols == 2) return two_objective_chain(f);
    DenseColumns dense = dense_columns(f);
    if (dense.has_nan()) return std::nullopt;
    // One objective: every value is dominated by exactly the smaller ones.
    if (cols == 1) return std::move(dense.rank);

    const auto order = lexicographic_order(dense, rows, cols);
    DistinctRows distinct;
    PointColumns columns;
    auto settle = [&] {
        distinct = distinct_rows(dense, rows, cols, order);
        columns = point_columns(dense, rows, cols, distinct.first_row);
    };
    std::vector<std::uint32_t> rank;
    if (cols == 3) {
        settle();
        rank = three_objective_ranks(columns);
    } else {
        std::size_t fronts = 0;
        if (wants_sample(rows, method) && pool::worker_count() > 1) {
            // The sample beside the distinct points' columns, drawn from the order itself (the
            // same points where no row repeats), rather than after them on one worker.
            pool::parallel_for(2, [&](std::size_t begin, std::size_t end) {
                for (std::size_t task = begin; task < end; ++task)
                    if (task == 0) settle();
                    else fronts = fronts_of_sample(dense, rows, cols, order);
            });
        } else {
            settle();
            if (wants_sample(columns.count, method)) fronts = fronts_of_sample(dense, rows, cols, distinct.first_row);
        }
        rank = front_search_ranks(columns, columns.count, method, fronts);
    }
    std::vector<std::uint32_t> rank_of_row(rows);
    for (std::size_t i = 0; i < rows; ++i) rank_of_row[i] = rank[distinct.of_row[i]];
    return rank_of_row;
}

}  // namespace rc::algorithm::nds
