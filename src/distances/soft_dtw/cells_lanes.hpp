// The soft-DTW recurrence for several independent cells at once, written once over an ops
// struct: one cell per lane, or per element of an array of one-lane values with Ops = Scalar.
// Every lane performs the same scalar
// sequence: the same comparisons and selections, the same divisions, the C library's scalar exp
// and log called once per lane and term, the same sums in the same order, so every lane's
// result has the same bits.
//
// A cell costs two exp calls and one log call and depends on its left neighbour. The minimum's
// own term is taken as the exact 1 it evaluates to, which saves one of the three exp calls: with
// it at position 1 or 2 the first addition is 1 + e or e + 1, the same value; at position 3 the
// sum is (e + e') + 1, and the order of e and e' does not matter either. When two neighbours tie
// for the minimum the other's term is exp(±0) = 1 anyway, so either may be taken as the minimum.
// The cells of a column go through each phase together: first every cell's minimum and exp
// arguments, then all first exp calls, all second ones, then the sums and log calls, so the
// processor overlaps the calls of different cells. Which neighbour holds the minimum follows the
// data, so the selections are made without branches: a mispredicted branch would discard the
// calls in flight.
//
// The comparisons, selections and arithmetic run on vectors, and so does exp where the lane exp
// reproduces the library's (libm/exp_lanes.hpp, the variant in Smoothing::exp); the library's calls are
// per lane. Most log calls are left out where a bracket on the library's log settles the cell
// (settle_by_bracket). Call results come back through memory one double at a time, and a vector load
// spanning several such stores could not be forwarded from them, so Ops::gather builds the
// vector from one load per lane instead.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "distances/soft_dtw/kernels.hpp"
#include "libm/exp_lanes.hpp"
#include "libm/log_bracket_lanes.hpp"

namespace rc::distances::soft_dtw {

// The cells of one column (L lanes in L / Ops::lanes vectors) from their neighbours and costs.
// Bracket: whether cells may be settled by the lane bracket on log (settle_by_bracket), a tuning
// of the target's table.
template <class Ops, std::size_t L, bool Bracket>
class SoftColumn {
    using V = typename Ops::V;
    using M = typename Ops::M;

public:
    static constexpr std::size_t W = Ops::lanes, Vectors = L / W;
    static_assert(Vectors * W == L && L <= 64);
    // A set of lanes, bit k for lane k.
    using Lanes = std::uint64_t;
    static constexpr Lanes kAllLanes = L == 64 ? ~Lanes{0} : (Lanes{1} << (L % 64)) - 1;

    explicit SoftColumn(const Smoothing& s)
        : libm_(*s.libm), gamma_(s.gamma), min_term_is_one_(s.min_term_is_one),
          exp_(kLaneExp ? s.exp : libm::ExpVariant::library), g_(Ops::broadcast(s.gamma)),
          reciprocal_is_exact_(s.exact_inverse_gamma != 0.0), inverse_g_(Ops::broadcast(s.exact_inverse_gamma)),
          one_(Ops::broadcast(1.0)), negligible_(Ops::broadcast(s.libm->exp_negligible_below)),
          stand_in_(Ops::broadcast(exp_ == libm::ExpVariant::library ? -__builtin_inf() : s.libm->exp_negligible_below)),
          log_bracketed_(s.log_bracketed) {}

    // out = the cells; returns the lanes whose minimum is not finite (all of them when gamma
    // does not let the minimum's term be 1), whose cells the caller replaces by literal ones
    // (see patch).
    Lanes compute(const V* up, const V* diag, const V* left, const V* cost, V* out) {
        if (!min_term_is_one_) [[unlikely]] {
            for (std::size_t v = 0; v < Vectors; ++v) out[v] = Ops::broadcast(0.0);
            return kAllLanes;
        }
        V mu[Vectors], first_arg[Vectors], second_arg[Vectors];
        M left_is_min[Vectors];
        Lanes irregular = 0;
        for (std::size_t v = 0; v < Vectors; ++v) {
            // min(up, diag), then min with left, each ignoring a NaN first operand.
            const M diag_first = Ops::either(Ops::lt(diag[v], up[v]), Ops::unordered(up[v]));
            const V m1 = Ops::blend(diag_first, diag[v], up[v]);
            const V other = Ops::blend(diag_first, up[v], diag[v]);
            left_is_min[v] = Ops::either(Ops::lt(left[v], m1), Ops::unordered(m1));
            mu[v] = Ops::blend(left_is_min[v], left[v], m1);
            irregular |= Lanes{Ops::not_finite(mu[v])} << (v * W);
            // The two neighbours whose terms are not the minimum's exact 1.
            const V first = Ops::blend(left_is_min[v], m1, other);
            const V second = Ops::blend(left_is_min[v], other, left[v]);
            const V a_p = over_gamma(Ops::sub(mu[v], first)), a_q = over_gamma(Ops::sub(mu[v], second));
            // A term below 2^-54 cannot change (1 + e_p) + e_q: 1 + e_p rounds to 1, and adding
            // e_q to a value of at least 1 moves it by less than half an ulp. Such a term becomes
            // exp(-inf) = 0, which costs no call. In (e_p + e_q) + 1 one term can still round
            // the other, so there both must be negligible. With the lane exp it becomes exp(bound)
            // instead, below 2^-54 just as well and in the exp's regular range: like 0 it changes
            // neither sum, so the cell keeps its bits.
            const M tiny_p = Ops::lt(a_p, negligible_), tiny_q = Ops::lt(a_q, negligible_);
            const V skip_p = Ops::blend(tiny_p, stand_in_, a_p), skip_q = Ops::blend(tiny_q, stand_in_, a_q);
            first_arg[v] = Ops::blend(left_is_min[v], Ops::blend(tiny_q, skip_p, a_p), skip_p);
            second_arg[v] = Ops::blend(left_is_min[v], Ops::blend(tiny_p, skip_q, a_q), skip_q);
        }
        V e_p[Vectors], e_q[Vectors];
        if (!lane_exp(first_arg, second_arg, e_p, e_q)) {
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
        V sum[Vectors];
        for (std::size_t v = 0; v < Vectors; ++v) {
            sum[v] = Ops::blend(left_is_min[v], Ops::add(Ops::add(e_p[v], e_q[v]), one_),
                                Ops::add(Ops::add(one_, e_p[v]), e_q[v]));
            Ops::storeu(sum_ + v * W, sum[v]);
        }
        if (!settle_by_bracket(sum, mu, cost)) {
            // ln(1) = +0: a column whose sums are all exactly 1 (far neighbours, small gamma)
            // needs no call. Skipping lane by lane would cost a mispredicted branch more often
            // than the call it saves.
            bool all_one = true;
            for (std::size_t k = 0; k < L; ++k) all_one &= sum_[k] == 1.0;
            if (all_one)
                for (std::size_t k = 0; k < L; ++k) log_sum_[k] = 0.0;
            else
                for (std::size_t k = 0; k < L; ++k) log_sum_[k] = libm_.log(sum_[k]);
        }
        for (std::size_t v = 0; v < Vectors; ++v)
            out[v] = Ops::add(Ops::sub(mu[v], Ops::mul(Ops::gather(log_sum_ + v * W), g_)), cost[v]);
        return irregular;
    }

    // Replaces the cells of the `lanes` given by literal ones.
    void patch(Lanes lanes, const V* up, const V* diag, const V* left, const V* cost, V* out) {
        alignas(64) double u[L], d[L], l[L], c[L], o[L];
        for (std::size_t v = 0; v < Vectors; ++v) {
            Ops::storeu(u + v * W, up[v]), Ops::storeu(d + v * W, diag[v]), Ops::storeu(l + v * W, left[v]);
            Ops::storeu(c + v * W, cost[v]), Ops::storeu(o + v * W, out[v]);
        }
        for (std::size_t k = 0; k < L; ++k)
            if ((lanes >> k) & 1) o[k] = literal_cell(u[k], d[k], l[k], c[k], gamma_, libm_);
        for (std::size_t v = 0; v < Vectors; ++v) out[v] = Ops::loadu(o + v * W);
    }

private:
    // x / g. For a power of two g (gamma = 1 above all) as x * (1 / g): the exact product is
    // the exact quotient, so both round to the same double, and the division costs several
    // multiplications.
    V over_gamma(V x) const { return reciprocal_is_exact_ ? Ops::mul(x, inverse_g_) : Ops::div(x, g_); }

    // Settles what it can of the column without calling log, where the bracket is in use
    // (libm/log_bracket_lanes.hpp): a cell (mu - ln(s) * g) + cost is a monotone function of ln(s),
    // each operation rounding monotonically, so when it comes out the same at both ends of an
    // interval that holds the library's log, the library's log gives it too. Such lanes get
    // log_sum_ = the interval's low end, which yields that value; the others (different
    // values, a zero or NaN, a sum outside the bracket's range) get the library's log. On
    // irregular series about 95 cells in a hundred settle: the interval is mostly two ulps of
    // ln(s) wide, and the cell's value, an accumulated cost, is far larger than ln(s). Returns
    // false where the bracket is not in use.
    bool settle_by_bracket(const V* sum, const V* mu, const V* cost) {
        if constexpr (Bracket) {
            if (!log_bracketed_) return false;
            Lanes pending = 0;
            const V zero = Ops::broadcast(0.0);
            for (std::size_t v = 0; v < Vectors; ++v) {
                const auto bounds = libm::LogBracket<Ops>::compute(sum[v]);
                const V at_lo = Ops::add(Ops::sub(mu[v], Ops::mul(bounds.lo, g_)), cost[v]);
                const V at_hi = Ops::add(Ops::sub(mu[v], Ops::mul(bounds.hi, g_)), cost[v]);
                // Equal, non-zero and not NaN, so also the same bits.
                const M settled = Ops::both(Ops::both(bounds.inside, Ops::eq(at_lo, at_hi)),
                                            Ops::either(Ops::lt(at_lo, zero), Ops::lt(zero, at_lo)));
                Ops::storeu(log_sum_ + v * W, bounds.lo);
                pending |= Lanes{Ops::mask_bits(settled) ^ ((1u << W) - 1u)} << (v * W);
            }
            for (; pending != 0; pending &= pending - 1) {
                const int k = std::countr_zero(pending);
                log_sum_[k] = libm_.log(sum_[k]);
            }
            return true;
        } else {
            return false;
        }
    }

    // Vectors run the lane exp; one lane keeps the library's calls, which cost about what the
    // lane exp's steps do.
    static constexpr bool kLaneExp = W > 1;
    static_assert(kLaneExp || !Bracket, "the bracket serves the lane exp's cells");

    // e_p, e_q = the exponentials of the arguments in lanes; false where the library's calls
    // give them instead.
    bool lane_exp(const V* first, const V* second, V* e_p, V* e_q) {
        if constexpr (kLaneExp) {
            if (exp_ == libm::ExpVariant::fused) {
                for (std::size_t v = 0; v < Vectors; ++v) e_p[v] = libm::ExactExp<Ops, true>::compute(first[v]);
                for (std::size_t v = 0; v < Vectors; ++v) e_q[v] = libm::ExactExp<Ops, true>::compute(second[v]);
                return true;
            }
            if (exp_ == libm::ExpVariant::plain) {
                for (std::size_t v = 0; v < Vectors; ++v) e_p[v] = libm::ExactExp<Ops, false>::compute(first[v]);
                for (std::size_t v = 0; v < Vectors; ++v) e_q[v] = libm::ExactExp<Ops, false>::compute(second[v]);
                return true;
            }
        }
        return false;
    }

    const libm::Entries& libm_;
    double gamma_;
    bool min_term_is_one_;
    libm::ExpVariant exp_;
    V g_;
    bool reciprocal_is_exact_;
    V inverse_g_, one_, negligible_, stand_in_;
    bool log_bracketed_;
    // The calls read their arguments from and write their results to these, lane by lane.
    alignas(64) double first_arg_[L]{}, second_arg_[L]{}, first_term_[L]{}, second_term_[L]{}, sum_[L]{}, log_sum_[L]{};
};

// One row of L pairs, interleaved (see RowProblem).
template <class Ops, std::size_t L, bool Bracket>
void soft_row(const RowProblem& p) {
    using V = typename Ops::V;
    using Column = SoftColumn<Ops, L, Bracket>;
    constexpr std::size_t W = Column::W, Vectors = Column::Vectors;
    Column column(p.smoothing);
    for (std::size_t j = 1; j <= p.m; ++j) {
        V up[Vectors], diag[Vectors], left[Vectors], cost[Vectors], out[Vectors];
        for (std::size_t v = 0; v < Vectors; ++v) {
            up[v] = Ops::loadu(p.above + j * L + v * W);
            diag[v] = Ops::loadu(p.above + (j - 1) * L + v * W);
            left[v] = Ops::loadu(p.row + (j - 1) * L + v * W);
            cost[v] = Ops::loadu(p.cost + (j - 1) * L + v * W);
        }
        if (const auto irregular = column.compute(up, diag, left, cost, out); irregular != 0) [[unlikely]]
            column.patch(irregular, up, diag, left, cost, out);
        for (std::size_t v = 0; v < Vectors; ++v) Ops::storeu(p.row + j * L + v * W, out[v]);
    }
}

// Two rows of P pairs (see TwoRowProblem) as one column of 2P lanes: in step t the first P lanes
// compute row i's column t and the other P row i + 1's column t - 1, whose upper neighbours row i
// computed in the steps before. A column's cells wait on their left neighbours through exp, the
// log bracket and the calls it leaves; the second row's cells do not wait on the first row's of
// the same step, so each step holds twice the independent work of one row. In the first step the
// second row has no cell yet, and in the last the first row none any more: those lanes compute
// on stand-in neighbours (valid cells of the other row) and are set aside.
template <class Ops, std::size_t P, bool Bracket>
void soft_two_rows(const TwoRowProblem& p) {
    using V = typename Ops::V;
    using Column = SoftColumn<Ops, 2 * P, Bracket>;
    using Lanes = typename Column::Lanes;
    constexpr std::size_t W = Column::W, Half = P / W;
    static_assert(Half * W == P);
    Column column(p.smoothing);
    const std::size_t m = p.m;
    constexpr Lanes kFirst = (Lanes{1} << P) - 1, kSecond = Column::kAllLanes & ~kFirst;
    for (std::size_t t = 1; t <= m + 1; ++t) {
        V up[2 * Half], diag[2 * Half], left[2 * Half], cost[2 * Half], out[2 * Half];
        const std::size_t a = t <= m ? t : m;      // the first row's column (a stand-in after m)
        const bool second_live = t >= 2;
        const std::size_t b = second_live ? t - 1 : 1;  // the second row's column (a stand-in at 1)
        const double* second_above = second_live ? p.first : p.above;
        const double* second_row = second_live ? p.second : p.first;
        const double* second_cost = second_live ? p.second_cost : p.first_cost;
        for (std::size_t v = 0; v < Half; ++v) {
            up[v] = Ops::loadu(p.above + a * P + v * W);
            diag[v] = Ops::loadu(p.above + (a - 1) * P + v * W);
            left[v] = Ops::loadu(p.first + (a - 1) * P + v * W);
            cost[v] = Ops::loadu(p.first_cost + (a - 1) * P + v * W);
            up[Half + v] = Ops::loadu(second_above + b * P + v * W);
            diag[Half + v] = Ops::loadu(second_above + (b - 1) * P + v * W);
            left[Half + v] = Ops::loadu(second_row + (b - 1) * P + v * W);
            cost[Half + v] = Ops::loadu(second_cost + (b - 1) * P + v * W);
        }
        const Lanes live = (t <= m ? kFirst : 0) | (second_live ? kSecond : 0);
        if (const Lanes irregular = column.compute(up, diag, left, cost, out) & live; irregular != 0) [[unlikely]]
            column.patch(irregular, up, diag, left, cost, out);
        if (t <= m)
            for (std::size_t v = 0; v < Half; ++v) Ops::storeu(p.first + t * P + v * W, out[v]);
        if (second_live)
            for (std::size_t v = 0; v < Half; ++v) Ops::storeu(p.second + b * P + v * W, out[Half + v]);
    }
}

// L consecutive rows of one pair (see StripProblem): in step t, lane w computes column t - w of
// its row, so the lanes' upper neighbours are the previous steps' results moved up one lane, and
// lane 0's come from the row above the strip.
template <class Ops, std::size_t L, bool Bracket>
void soft_strip(const StripProblem& p) {
    using V = typename Ops::V;
    using Column = SoftColumn<Ops, L, Bracket>;
    using Lanes = typename Column::Lanes;
    constexpr std::size_t W = Column::W, Vectors = Column::Vectors;
    constexpr double inf = __builtin_inf();
    Column column(p.smoothing);
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
        auto irregular = column.compute(up, diag, prev, cost, out);
        // Lanes w with 1 <= t - w <= m hold cells; the others run on whatever they are given
        // and are set aside: before their row starts they hold its boundary, +inf, and past its
        // end nothing reads them except lanes past their own end.
        const std::size_t first_live = t > m ? t - m : 0, end_live = t < L ? t : L;
        irregular &= ((Lanes{1} << end_live) - 1) & ~((Lanes{1} << first_live) - 1);
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

}  // namespace rc::distances::soft_dtw
