// The DTW recurrence over several pairs at once, one pair per SIMD lane. Included only by the
// instruction-set files, after dtw_lanes.hpp and inside their anonymous namespace, so each
// gets its own internal copy compiled for its instructions (hence no include guard and no
// includes here). Every lane performs exactly the operations of the scalar recurrence
// in dtw.cpp on its own pair, in the same order, so each lane's result has the same bits.
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

// Vectors independent vectors of pairs share each loop iteration, so the chains through
// `left` (a minimum and an addition per cell) of the different vectors overlap.
template <class Ops, std::size_t Vectors, std::size_t D, bool NanFree>
void run_lanes(const rc::distances::dtw_lanes::LaneProblem& p) {
    using V = typename Ops::V;
    constexpr std::size_t W = Ops::lanes, L = W * Vectors;
    const std::size_t n = p.n, m = p.m, dim = D ? D : p.d;
    const double* __restrict const x = p.x;
    const double* __restrict const y = p.y;
    const auto* __restrict const spans = p.spans;
    double* __restrict const row = p.row;
    const V inf = Ops::broadcast(__builtin_inf());
    for (std::size_t v = 0; v < Vectors; ++v) Ops::storeu(row + v * W, Ops::broadcast(0.0));
    for (std::size_t J = 1; J <= m; ++J)
        for (std::size_t v = 0; v < Vectors; ++v) Ops::storeu(row + J * L + v * W, inf);
    auto clear = [&](std::size_t first, std::size_t last) {
        for (std::size_t J = first; J <= last; ++J)
            for (std::size_t v = 0; v < Vectors; ++v) Ops::storeu(row + J * L + v * W, inf);
    };
    std::size_t live_first = 0, live_last = 0;
    for (std::size_t t = 0; t < n; ++t) {
        const auto span = spans[t];
        V diag[Vectors], left[Vectors];
        for (std::size_t v = 0; v < Vectors; ++v) {
            diag[v] = Ops::loadu(row + (span.first - 1) * L + v * W);
            left[v] = inf;
        }
        clear(live_first, live_last < span.first - 1 ? live_last : span.first - 1);
        clear(live_first > span.last + 1 ? live_first : span.last + 1, live_last);
        const double* xt = x + t * dim;
        const V x0 = Ops::broadcast(dim > 0 ? xt[0] : 0.0);
        for (std::size_t J = span.first; J <= span.last; ++J) {
            double* cell = row + J * L;
            V cost[Vectors];
            lane_costs<Ops, Vectors, D>(x0, xt, y + (J - 1) * dim * L, dim, cost);
            for (std::size_t v = 0; v < Vectors; ++v) {
                const V up = Ops::loadu(cell + v * W);
                // NanFree: the plain minimum is exact and order-free, so taking the diagonal
                // first gives the same bits and keeps it off the chain through `left`.
                const V best = NanFree ? Ops::min(Ops::min(up, diag[v]), left[v])
                                       : Ops::min_ignoring_nan(Ops::min_ignoring_nan(up, left[v]), diag[v]);
                const V value = Ops::add(cost[v], best);
                Ops::storeu(cell + v * W, value);
                diag[v] = up;
                left[v] = value;
            }
        }
        live_first = span.first;
        live_last = span.last;
    }
    for (std::size_t lane = 0; lane < L; ++lane) p.out[lane] = row[m * L + lane];
}

template <class Ops, std::size_t Vectors>
void run_lanes_dispatch(const rc::distances::dtw_lanes::LaneProblem& p) {
    if (p.d == 1) {
        if (p.finite) return run_lanes<Ops, Vectors, 1, true>(p);
        return run_lanes<Ops, Vectors, 1, false>(p);
    }
    if (p.finite) return run_lanes<Ops, Vectors, 0, true>(p);
    return run_lanes<Ops, Vectors, 0, false>(p);
}
