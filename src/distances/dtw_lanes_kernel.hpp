// The DTW recurrence over several pairs at once, one pair per SIMD lane. Included only by the
// instruction-set files, after dtw_lanes.hpp and inside their anonymous namespace, so each
// gets its own internal copy compiled for its instructions (hence no include guard and no
// includes here). Every lane performs exactly the operations of the scalar recurrence
// in dtw.cpp on its own pair, in the same order, so each lane's result has the same bits.
//
// Ops supplies the vector type V, its lane count and loadu/storeu/broadcast/add/sub/mul,
// min(a, b) = a < b ? a : b and min_ignoring_nan(a, b) = b is NaN ? a : min(a, b), which
// are the scalar kernel's minima lane by lane.
template <class Ops, std::size_t Vectors, std::size_t D>
inline typename Ops::V lane_cost(const double* xt, const double* yu, std::size_t d, std::size_t stride) {
    using V = typename Ops::V;
    const std::size_t dim = D ? D : d;
    if (dim == 0) return Ops::broadcast(0.0);
    // 0.0 + diff * diff is diff * diff exactly (a square is never -0.0), so the sum starts
    // from the first square, as the scalar kernel's sum from 0.0 does in effect.
    V diff = Ops::sub(Ops::broadcast(xt[0]), Ops::loadu(yu));
    V sum = Ops::mul(diff, diff);
    for (std::size_t k = 1; k < dim; ++k) {
        diff = Ops::sub(Ops::broadcast(xt[k]), Ops::loadu(yu + k * stride));
        sum = Ops::add(sum, Ops::mul(diff, diff));
    }
    return sum;
}

// Vectors independent vectors of pairs share each loop iteration, so the chains through
// `left` (a minimum and an addition per cell) of the different vectors overlap.
template <class Ops, std::size_t Vectors, std::size_t D, bool NanFree>
void run_lanes(const rc::distances::dtw_lanes::LaneProblem& p) {
    using V = typename Ops::V;
    constexpr std::size_t W = Ops::lanes, L = W * Vectors;
    const std::size_t m = p.m, dim = D ? D : p.d;
    double* const row = p.row;
    const V inf = Ops::broadcast(__builtin_inf());
    for (std::size_t v = 0; v < Vectors; ++v) Ops::storeu(row + v * W, Ops::broadcast(0.0));
    for (std::size_t J = 1; J <= m; ++J)
        for (std::size_t v = 0; v < Vectors; ++v) Ops::storeu(row + J * L + v * W, inf);
    auto clear = [&](std::size_t first, std::size_t last) {
        for (std::size_t J = first; J <= last; ++J)
            for (std::size_t v = 0; v < Vectors; ++v) Ops::storeu(row + J * L + v * W, inf);
    };
    std::size_t live_first = 0, live_last = 0;
    for (std::size_t t = 0; t < p.n; ++t) {
        const auto span = p.spans[t];
        V diag[Vectors], left[Vectors];
        for (std::size_t v = 0; v < Vectors; ++v) {
            diag[v] = Ops::loadu(row + (span.first - 1) * L + v * W);
            left[v] = inf;
        }
        clear(live_first, live_last < span.first - 1 ? live_last : span.first - 1);
        clear(live_first > span.last + 1 ? live_first : span.last + 1, live_last);
        const double* xt = p.x + t * dim;
        for (std::size_t J = span.first; J <= span.last; ++J) {
            const double* yu = p.y + (J - 1) * dim * L;
            double* cell = row + J * L;
            for (std::size_t v = 0; v < Vectors; ++v) {
                const V cost = lane_cost<Ops, Vectors, D>(xt, yu + v * W, dim, L);
                const V up = Ops::loadu(cell + v * W);
                // NanFree: the plain minimum is exact and order-free, so taking the diagonal
                // first gives the same bits and keeps it off the chain through `left`.
                const V best = NanFree ? Ops::min(Ops::min(up, diag[v]), left[v])
                                       : Ops::min_ignoring_nan(Ops::min_ignoring_nan(up, left[v]), diag[v]);
                const V value = Ops::add(cost, best);
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
