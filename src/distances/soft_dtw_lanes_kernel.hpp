// One row of the soft-DTW recurrence for L pairs at once, one pair per SIMD lane.
// Included only by the instruction-set files, after soft_dtw_lanes.hpp and inside their
// anonymous namespace (no include guard, no includes). Each lane performs the scalar cell of
// soft_dtw.cpp on its own pair: the same comparisons and selections, the same divisions, the
// C library's scalar exp and log called once per lane and term, the same sums in the same
// order, so every lane's result has the scalar bits.
//
// The comparisons, selections and arithmetic of a column run on vectors; only the calls are
// per lane. Call results come back through memory one double at a time, and a vector load
// spanning several such stores could not be forwarded from them (it would wait for the stores
// to reach the cache), so Ops::gather builds the vector from one load per lane instead.
//
// Ops supplies the vector type V, a mask type M, `lanes`, loadu/storeu/broadcast/add/sub/mul/
// div, lt(a, b) = a < b, unordered(a) = a is NaN, either(m, n), blend(m, a, b) = m ? a : b
// lane by lane, not_finite(a), the bit set of lanes that hold an infinity or NaN, and
// gather(p), the vector of p[0..lanes) loaded lane by lane.

template <class Ops, std::size_t L>
void soft_row(const rc::distances::soft_dtw_lanes::RowProblem& p) {
    using V = typename Ops::V;
    using M = typename Ops::M;
    constexpr std::size_t W = Ops::lanes, Vectors = L / W;
    static_assert(Vectors * W == L);
    const rc::LibmEntry& libm = *p.libm;
    const double gamma = p.gamma;
    const V g = Ops::broadcast(gamma), one = Ops::broadcast(1.0);
    const V negligible = Ops::broadcast(libm.exp_negligible_below), minus_inf = Ops::broadcast(-__builtin_inf());
    alignas(64) double first_arg[L], second_arg[L], first_term[L], second_term[L], sum[L], log_sum[L];
    for (std::size_t j = 1; j <= p.m; ++j) {
        V mu[Vectors];
        M left_is_min[Vectors];
        unsigned irregular = 0;  // lanes whose minimum is not finite
        for (std::size_t v = 0; v < Vectors; ++v) {
            const V up = Ops::loadu(p.above + j * L + v * W);
            const V diag = Ops::loadu(p.above + (j - 1) * L + v * W);
            const V left = Ops::loadu(p.row + (j - 1) * L + v * W);
            // min(up, diag), then min with left, each ignoring a NaN first operand.
            const M diag_first = Ops::either(Ops::lt(diag, up), Ops::unordered(up));
            const V m1 = Ops::blend(diag_first, diag, up);
            const V other = Ops::blend(diag_first, up, diag);
            left_is_min[v] = Ops::either(Ops::lt(left, m1), Ops::unordered(m1));
            mu[v] = Ops::blend(left_is_min[v], left, m1);
            irregular |= Ops::not_finite(mu[v]) << (v * W);
            // The two neighbours whose terms are not the minimum's exact 1.
            const V first = Ops::blend(left_is_min[v], m1, other);
            const V second = Ops::blend(left_is_min[v], other, left);
            const V a_p = Ops::div(Ops::sub(mu[v], first), g), a_q = Ops::div(Ops::sub(mu[v], second), g);
            // Terms too small to matter become exp(-inf) = 0, which costs no call (see
            // soft_dtw.cpp): each on its own when the sum is (1 + e_p) + e_q, only both together
            // when it is (e_p + e_q) + 1.
            const M tiny_p = Ops::lt(a_p, negligible), tiny_q = Ops::lt(a_q, negligible);
            const V skip_p = Ops::blend(tiny_p, minus_inf, a_p), skip_q = Ops::blend(tiny_q, minus_inf, a_q);
            Ops::storeu(first_arg + v * W, Ops::blend(left_is_min[v], Ops::blend(tiny_q, skip_p, a_p), skip_p));
            Ops::storeu(second_arg + v * W, Ops::blend(left_is_min[v], Ops::blend(tiny_p, skip_q, a_q), skip_q));
        }
        for (std::size_t k = 0; k < L; ++k) first_term[k] = libm.exp_or_zero(first_arg[k]);
        for (std::size_t k = 0; k < L; ++k) second_term[k] = libm.exp_or_zero(second_arg[k]);
        for (std::size_t v = 0; v < Vectors; ++v) {
            const V e_p = Ops::gather(first_term + v * W), e_q = Ops::gather(second_term + v * W);
            Ops::storeu(sum + v * W, Ops::blend(left_is_min[v], Ops::add(Ops::add(e_p, e_q), one),
                                                Ops::add(Ops::add(one, e_p), e_q)));
        }
        // ln(1) = +0: a sum of exactly 1 needs no call.
        for (std::size_t k = 0; k < L; ++k) log_sum[k] = sum[k] == 1.0 ? 0.0 : libm.log(sum[k]);
        for (std::size_t v = 0; v < Vectors; ++v) {
            const V cost = Ops::loadu(p.cost + (j - 1) * L + v * W);
            Ops::storeu(p.row + j * L + v * W, Ops::add(Ops::sub(mu[v], Ops::mul(Ops::gather(log_sum + v * W), g)), cost));
        }
        if (irregular != 0) [[unlikely]] {
            for (std::size_t k = 0; k < L; ++k)
                if ((irregular >> k) & 1u)
                    p.row[j * L + k] = rc::distances::soft_dtw_lanes::literal_cell(
                        p.above[j * L + k], p.above[(j - 1) * L + k], p.row[(j - 1) * L + k], p.cost[(j - 1) * L + k],
                        gamma, libm);
        }
    }
}
