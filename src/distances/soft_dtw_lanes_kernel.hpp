// The soft-DTW recurrence for several independent cells at once, one cell per SIMD lane.
// Included only by the instruction-set files, after soft_dtw_lanes.hpp, simd/exp-inl.hpp and
// inside their anonymous namespace (no include guard, no includes). Each lane performs the
// scalar cell of soft_dtw.cpp: the same comparisons and selections, the same divisions, the C
// library's exp (the library's calls, or its lane version with the same bits) and log once per
// lane and term, the same sums in the same order, so every lane's result has the scalar bits.
//
// The comparisons, selections, arithmetic and the lane exp run on vectors; the library's calls
// are per lane. Call results come back through memory one double at a time, and a vector load
// spanning several such stores could not be forwarded from them (it would wait for the stores
// to reach the cache), so Ops::gather builds the vector from one load per lane instead.
//
// Ops supplies the vector type V, a mask type M, `lanes`, loadu/storeu/broadcast/add/sub/mul/
// div, lt(a, b) = a < b, unordered(a) = a is NaN, either(m, n), blend(m, a, b) = m ? a : b
// lane by lane, not_finite(a), the bit set of lanes that hold an infinity or NaN, gather(p), the
// vector of p[0..lanes) loaded lane by lane, iota(base) = {base, base + 1, ...}, shift_in(v,
// carry) = {carry's last lane, v[0], v[1], ...}, and last_lane(v).

// The cells of one column (L lanes in L / Ops::lanes vectors) from their neighbours and costs.
template <class Ops, std::size_t L, class Exp>
class SoftColumn {
    using V = typename Ops::V;
    using M = typename Ops::M;

public:
    static constexpr std::size_t W = Ops::lanes, Vectors = L / W;
    static_assert(Vectors * W == L);

    SoftColumn(double gamma, const rc::LibmEntry& libm)
        : libm_(libm), gamma_(gamma), g_(Ops::broadcast(gamma)), one_(Ops::broadcast(1.0)),
          negligible_(Ops::broadcast(libm.exp_negligible_below)),
          stand_in_(Ops::broadcast(Exp::in_lanes ? libm.exp_negligible_below : -__builtin_inf())) {}

    // out = the cells; returns the lanes whose minimum is not finite, whose cells the caller
    // replaces by literal ones (see patch).
    unsigned compute(const V* up, const V* diag, const V* left, const V* cost, V* out) {
        V mu[Vectors], first_arg[Vectors], second_arg[Vectors];
        M left_is_min[Vectors];
        unsigned irregular = 0;
        for (std::size_t v = 0; v < Vectors; ++v) {
            // min(up, diag), then min with left, each ignoring a NaN first operand.
            const M diag_first = Ops::either(Ops::lt(diag[v], up[v]), Ops::unordered(up[v]));
            const V m1 = Ops::blend(diag_first, diag[v], up[v]);
            const V other = Ops::blend(diag_first, up[v], diag[v]);
            left_is_min[v] = Ops::either(Ops::lt(left[v], m1), Ops::unordered(m1));
            mu[v] = Ops::blend(left_is_min[v], left[v], m1);
            irregular |= Ops::not_finite(mu[v]) << (v * W);
            // The two neighbours whose terms are not the minimum's exact 1.
            const V first = Ops::blend(left_is_min[v], m1, other);
            const V second = Ops::blend(left_is_min[v], other, left[v]);
            const V a_p = Ops::div(Ops::sub(mu[v], first), g_), a_q = Ops::div(Ops::sub(mu[v], second), g_);
            // Terms too small to matter become exp(-inf) = 0, which costs no call (see
            // soft_dtw.cpp): each on its own when the sum is (1 + e_p) + e_q, only both together
            // when it is (e_p + e_q) + 1. In lanes they become exp(bound) instead, below 2^-54
            // just as well and in the exp's regular range: like 0, such a term changes neither
            // sum, so the cell keeps its bits.
            const M tiny_p = Ops::lt(a_p, negligible_), tiny_q = Ops::lt(a_q, negligible_);
            const V skip_p = Ops::blend(tiny_p, stand_in_, a_p), skip_q = Ops::blend(tiny_q, stand_in_, a_q);
            first_arg[v] = Ops::blend(left_is_min[v], Ops::blend(tiny_q, skip_p, a_p), skip_p);
            second_arg[v] = Ops::blend(left_is_min[v], Ops::blend(tiny_p, skip_q, a_q), skip_q);
        }
        V e_p[Vectors], e_q[Vectors];
        if constexpr (Exp::in_lanes) {
            for (std::size_t v = 0; v < Vectors; ++v) e_p[v] = Exp::template compute<Ops>(first_arg[v]);
            for (std::size_t v = 0; v < Vectors; ++v) e_q[v] = Exp::template compute<Ops>(second_arg[v]);
        } else {
            for (std::size_t v = 0; v < Vectors; ++v) {
                Ops::storeu(first_arg_ + v * W, first_arg[v]);
                Ops::storeu(second_arg_ + v * W, second_arg[v]);
            }
            for (std::size_t k = 0; k < L; ++k) first_term_[k] = libm_.exp_or_zero(first_arg_[k]);
            for (std::size_t k = 0; k < L; ++k) second_term_[k] = libm_.exp_or_zero(second_arg_[k]);
            for (std::size_t v = 0; v < Vectors; ++v) {
                e_p[v] = Ops::gather(first_term_ + v * W);
                e_q[v] = Ops::gather(second_term_ + v * W);
            }
        }
        for (std::size_t v = 0; v < Vectors; ++v)
            Ops::storeu(sum_ + v * W, Ops::blend(left_is_min[v], Ops::add(Ops::add(e_p[v], e_q[v]), one_),
                                                 Ops::add(Ops::add(one_, e_p[v]), e_q[v])));
        // ln(1) = +0: a column whose sums are all exactly 1 (far neighbours, small gamma) needs
        // no call. Skipping lane by lane would cost a mispredicted branch more often than the
        // call it saves.
        bool all_one = true;
        for (std::size_t k = 0; k < L; ++k) all_one &= sum_[k] == 1.0;
        if (all_one)
            for (std::size_t k = 0; k < L; ++k) log_sum_[k] = 0.0;
        else
            for (std::size_t k = 0; k < L; ++k) log_sum_[k] = libm_.log(sum_[k]);
        for (std::size_t v = 0; v < Vectors; ++v)
            out[v] = Ops::add(Ops::sub(mu[v], Ops::mul(Ops::gather(log_sum_ + v * W), g_)), cost[v]);
        return irregular;
    }

    // Replaces the cells of the `lanes` given by literal ones.
    void patch(unsigned lanes, const V* up, const V* diag, const V* left, const V* cost, V* out) {
        alignas(64) double u[L], d[L], l[L], c[L], o[L];
        for (std::size_t v = 0; v < Vectors; ++v) {
            Ops::storeu(u + v * W, up[v]), Ops::storeu(d + v * W, diag[v]), Ops::storeu(l + v * W, left[v]);
            Ops::storeu(c + v * W, cost[v]), Ops::storeu(o + v * W, out[v]);
        }
        for (std::size_t k = 0; k < L; ++k)
            if ((lanes >> k) & 1u) o[k] = rc::distances::soft_dtw_lanes::literal_cell(u[k], d[k], l[k], c[k], gamma_, libm_);
        for (std::size_t v = 0; v < Vectors; ++v) out[v] = Ops::loadu(o + v * W);
    }

private:
    const rc::LibmEntry& libm_;
    double gamma_;
    V g_, one_, negligible_, stand_in_;
    // The calls read their arguments from and write their results to these, lane by lane.
    alignas(64) double first_arg_[L], second_arg_[L], first_term_[L], second_term_[L], sum_[L], log_sum_[L];
};

// One row of L pairs, interleaved (see RowProblem).
template <class Ops, std::size_t L, class Exp>
void soft_row(const rc::distances::soft_dtw_lanes::RowProblem& p) {
    using V = typename Ops::V;
    using Column = SoftColumn<Ops, L, Exp>;
    constexpr std::size_t W = Column::W, Vectors = Column::Vectors;
    Column column(p.gamma, *p.libm);
    for (std::size_t j = 1; j <= p.m; ++j) {
        V up[Vectors], diag[Vectors], left[Vectors], cost[Vectors], out[Vectors];
        for (std::size_t v = 0; v < Vectors; ++v) {
            up[v] = Ops::loadu(p.above + j * L + v * W);
            diag[v] = Ops::loadu(p.above + (j - 1) * L + v * W);
            left[v] = Ops::loadu(p.row + (j - 1) * L + v * W);
            cost[v] = Ops::loadu(p.cost + (j - 1) * L + v * W);
        }
        if (const unsigned irregular = column.compute(up, diag, left, cost, out); irregular != 0) [[unlikely]]
            column.patch(irregular, up, diag, left, cost, out);
        for (std::size_t v = 0; v < Vectors; ++v) Ops::storeu(p.row + j * L + v * W, out[v]);
    }
}

// L consecutive rows of one pair (see StripProblem): in step t, lane w computes column t - w of
// its row, so the lanes' upper neighbours are the previous steps' results moved up one lane, and
// lane 0's come from the row above the strip.
template <class Ops, std::size_t L, class Exp>
void soft_strip(const rc::distances::soft_dtw_lanes::StripProblem& p) {
    using V = typename Ops::V;
    using Column = SoftColumn<Ops, L, Exp>;
    constexpr std::size_t W = Column::W, Vectors = Column::Vectors;
    constexpr double inf = __builtin_inf();
    Column column(p.gamma, *p.libm);
    const std::size_t m = p.m;
    V prev[Vectors], prev2[Vectors], lane_index[Vectors];  // results of steps t - 1 and t - 2
    for (std::size_t v = 0; v < Vectors; ++v) {
        prev[v] = prev2[v] = Ops::broadcast(inf);  // column 0 and before: the boundary
        lane_index[v] = Ops::iota(static_cast<double>(v * W));
    }
    for (std::size_t t = 1; t <= m + L - 1; ++t) {
        V up[Vectors], diag[Vectors], cost[Vectors], out[Vectors];
        V carry_up = Ops::broadcast(t <= m ? p.above[t] : inf);
        V carry_diag = Ops::broadcast(t - 1 <= m ? p.above[t - 1] : inf);
        for (std::size_t v = 0; v < Vectors; ++v) {
            up[v] = Ops::shift_in(prev[v], carry_up);
            diag[v] = Ops::shift_in(prev2[v], carry_diag);
            carry_up = prev[v], carry_diag = prev2[v];
            cost[v] = Ops::loadu(p.cost + t * L + v * W);
        }
        unsigned irregular = column.compute(up, diag, prev, cost, out);
        // Lanes w with 1 <= t - w <= m hold cells; the others run on whatever they are given
        // and are set aside: before their row starts they hold its boundary, +inf, and past its
        // end nothing reads them except lanes past their own end.
        const std::size_t first_live = t > m ? t - m : 0, end_live = t < L ? t : L;
        irregular &= ((1u << end_live) - 1u) & ~((1u << first_live) - 1u);
        if (irregular != 0) [[unlikely]]
            column.patch(irregular, up, diag, prev, cost, out);
        if (t < L) {
            const V started = Ops::broadcast(static_cast<double>(t));
            for (std::size_t v = 0; v < Vectors; ++v)
                out[v] = Ops::blend(Ops::lt(lane_index[v], started), out[v], Ops::broadcast(inf));
        } else {
            p.below[t - (L - 1)] = Ops::last_lane(out[Vectors - 1]);
        }
        for (std::size_t v = 0; v < Vectors; ++v) prev2[v] = prev[v], prev[v] = out[v];
    }
}
