// The DTW recurrence over several pairs at once, one pair per SIMD lane. Included only by the
// instruction-set files, after dtw_lanes.hpp and inside their anonymous namespace, so each
// gets its own internal copy compiled for its instructions (hence no include guard and no
// includes here). Every lane performs exactly the operations of the scalar recurrence
// in dtw_strip.hpp on its own pair, in the same order, so each lane's result has the same bits.
//
// Ops supplies the vector type V, its lane count and loadu/storeu/broadcast/add/sub/mul,
// min(a, b) = a < b ? a : b and min_ignoring_nan(a, b) = b is NaN ? a : min(a, b), which
// are the scalar kernel's minima lane by lane.

// Squared distances of step xt of x (x0: its first feature in every lane) to one step of
// every lane's y, features summed in increasing order. 0.0 + diff * diff is diff * diff
// exactly (a square is never -0.0), so the sums start from the first square as the scalar
// sum from 0.0 does.
template <class Ops, std::size_t Vectors, std::size_t D>
inline void lane_costs(typename Ops::V x0, const double* xt, const double* yu, std::size_t d,
                       typename Ops::V* cost) {
    constexpr std::size_t W = Ops::lanes, L = W * Vectors;
    const std::size_t dim = D ? D : d;
    if (dim == 0) {
        for (std::size_t v = 0; v < Vectors; ++v) cost[v] = Ops::broadcast(0.0);
        return;
    }
    for (std::size_t v = 0; v < Vectors; ++v) {
        const auto diff = Ops::sub(x0, Ops::loadu(yu + v * W));
        cost[v] = Ops::mul(diff, diff);
    }
    for (std::size_t k = 1; k < dim; ++k) {
        const auto xk = Ops::broadcast(xt[k]);
        for (std::size_t v = 0; v < Vectors; ++v) {
            const auto diff = Ops::sub(xk, Ops::loadu(yu + k * L + v * W));
            cost[v] = Ops::add(cost[v], Ops::mul(diff, diff));
        }
    }
}

// R rows of x for all lanes, skewed by one column as run_strip in dtw_strip.hpp does:
// in step J row r computes column J - r, its upper neighbour being row r - 1's result of the
// previous step, so only the first row reads the rolling row of A and only the last writes
// it. Within a step, Vectors independent vectors of pairs share the work, so the chains
// through `left` (a minimum and an addition per cell) of rows and vectors overlap.
template <class Ops, std::size_t Vectors, std::size_t R, std::size_t D, bool NanFree>
class LaneStrip {
    using V = typename Ops::V;
    using Span = rc::distances::dtw_lanes::Span;
    static constexpr std::size_t W = Ops::lanes, L = W * Vectors;

public:
    LaneStrip(const rc::distances::dtw_lanes::LaneProblem& p, std::size_t t0, double* row)
        : y_(p.y), dim_(D ? D : p.d), spans_(p.spans + t0), row_(row), inf_(Ops::broadcast(__builtin_inf())) {
        for (std::size_t r = 0; r < R; ++r) {
            x_[r] = p.x + (t0 + r) * dim_;
            x0_[r] = Ops::broadcast(dim_ > 0 ? x_[r][0] : 0.0);
            for (std::size_t v = 0; v < Vectors; ++v) diag_[r][v] = out_[r][v] = inf_;
        }
    }

    // `live`: the columns of row[] that may hold finite values, before and after.
    void run(Span& live) {
        const std::size_t first = spans_[0].first, last = spans_[R - 1].last;
        for (std::size_t v = 0; v < Vectors; ++v) diag_[0][v] = Ops::loadu(row_ + (first - 1) * L + v * W);
        clear(live.first, live.last < first - 1 ? live.last : first - 1);
        clear(live.first > last + 1 ? live.first : last + 1, live.last);
        std::size_t fast_first = 0, fast_last = last + R;
        for (std::size_t r = 0; r < R; ++r) {
            if (spans_[r].first + r > fast_first) fast_first = spans_[r].first + r;
            if (spans_[r].last + r < fast_last) fast_last = spans_[r].last + r;
        }
        const std::size_t end = last + R;
        std::size_t J = first;
        if (fast_first <= fast_last) {
            for (; J < fast_first; ++J) checked_step(J, first, last);
            for (; J <= fast_last; ++J) rows_last_to_first([&](auto r) { cell(r, J - r); });
        }
        for (; J < end; ++J) checked_step(J, first, last);
        live = Span{first, last};
    }

private:
    void clear(std::size_t first, std::size_t last) {
        for (std::size_t J = first; J <= last; ++J)
            for (std::size_t v = 0; v < Vectors; ++v) Ops::storeu(row_ + J * L + v * W, inf_);
    }

    template <class Step>
    static void rows_last_to_first(Step&& step) {
        [&]<std::size_t... k>(std::index_sequence<k...>) {
            (step(std::integral_constant<std::size_t, R - 1 - k>{}), ...);
        }(std::make_index_sequence<R>{});
    }

    template <std::size_t r>
    void cell(std::integral_constant<std::size_t, r>, std::size_t column) {
        V cost[Vectors];
        lane_costs<Ops, Vectors, D>(x0_[r], x_[r], y_ + (column - 1) * dim_ * L, dim_, cost);
        for (std::size_t v = 0; v < Vectors; ++v) {
            V up;
            if constexpr (r == 0)
                up = Ops::loadu(row_ + column * L + v * W);
            else
                up = out_[r - 1][v];
            // NanFree: the plain minimum is exact and order-free, so taking the diagonal
            // first gives the same bits and keeps it off the chain through `left`.
            const V best = NanFree ? Ops::min(Ops::min(up, diag_[r][v]), out_[r][v])
                                   : Ops::min_ignoring_nan(Ops::min_ignoring_nan(up, out_[r][v]), diag_[r][v]);
            diag_[r][v] = up;
            out_[r][v] = Ops::add(cost[v], best);
            if constexpr (r == R - 1) Ops::storeu(row_ + column * L + v * W, out_[r][v]);
        }
    }

    template <std::size_t r>
    void outside_span(std::integral_constant<std::size_t, r>, std::size_t column) {
        for (std::size_t v = 0; v < Vectors; ++v) {
            if constexpr (r == 0)
                diag_[r][v] = Ops::loadu(row_ + column * L + v * W);
            else
                diag_[r][v] = out_[r - 1][v];
            out_[r][v] = inf_;
            if constexpr (r == R - 1) Ops::storeu(row_ + column * L + v * W, inf_);
        }
    }

    void checked_step(std::size_t J, std::size_t first, std::size_t last) {
        rows_last_to_first([&](auto r) {
            if (J < first + r || J - r > last) return;  // row r has not started or is done
            const std::size_t column = J - r;
            if (column >= spans_[r].first && column <= spans_[r].last)
                cell(r, column);
            else
                outside_span(r, column);
        });
    }

    const double* x_[R];
    V x0_[R];
    const double* y_;
    std::size_t dim_;
    const Span* spans_;
    double* row_;
    V inf_;
    V diag_[R][Vectors];  // A[t0 + r][column - 1]
    V out_[R][Vectors];   // A[t0 + r + 1][column]: row r's last result, its next left neighbour
};

// Whether R rows from spans[0] are worth running together (as strip_pays in dtw_strip.hpp).
template <std::size_t R>
bool lane_strip_pays(const rc::distances::dtw_lanes::Span* spans) {
    std::size_t cells = 0;
    for (std::size_t r = 0; r < R; ++r) {
        if (spans[r].first > spans[r].last) return false;
        if (r > 0 && (spans[r].first < spans[r - 1].first || spans[r].last < spans[r - 1].last)) return false;
        cells += spans[r].last - spans[r].first + 1;
    }
    const std::size_t hull = spans[R - 1].last - spans[0].first + 1;
    return hull * R <= cells + cells / 4 + 4 * R;
}

template <class Ops, std::size_t Vectors, std::size_t R, std::size_t D, bool NanFree>
void run_lanes(const rc::distances::dtw_lanes::LaneProblem& p) {
    constexpr std::size_t W = Ops::lanes, L = W * Vectors;
    const std::size_t n = p.n, m = p.m;
    double* const row = p.row;
    const auto zero = Ops::broadcast(0.0), inf = Ops::broadcast(__builtin_inf());
    for (std::size_t v = 0; v < Vectors; ++v) Ops::storeu(row + v * W, zero);
    for (std::size_t J = 1; J <= m; ++J)
        for (std::size_t v = 0; v < Vectors; ++v) Ops::storeu(row + J * L + v * W, inf);
    rc::distances::dtw_lanes::Span live{0, 0};  // A[0][0] = 0
    for (std::size_t t = 0; t < n;) {
        if (R > 1 && t + R <= n && lane_strip_pays<R>(p.spans + t)) {
            LaneStrip<Ops, Vectors, R, D, NanFree>(p, t, row).run(live);
            t += R;
        } else {
            LaneStrip<Ops, Vectors, 1, D, NanFree>(p, t, row).run(live);
            t += 1;
        }
    }
    for (std::size_t lane = 0; lane < L; ++lane) p.out[lane] = row[m * L + lane];
}

// Rows: how many rows of x run together; with Vectors vectors of pairs each row keeps
// 2 * Vectors accumulators in registers.
template <class Ops, std::size_t Vectors, std::size_t Rows>
void run_lanes_dispatch(const rc::distances::dtw_lanes::LaneProblem& p) {
    if (p.d == 1) {
        if (p.finite) return run_lanes<Ops, Vectors, Rows, 1, true>(p);
        return run_lanes<Ops, Vectors, Rows, 1, false>(p);
    }
    if (p.finite) return run_lanes<Ops, Vectors, Rows, 0, true>(p);
    return run_lanes<Ops, Vectors, Rows, 0, false>(p);
}
