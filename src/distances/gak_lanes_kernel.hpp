// The GAK recurrence over a strip of kRows rows of one pair, one row per SIMD lane. Included
// only by the instruction-set files, after gak_lanes.hpp and the Ops of simd_ops_*.hpp, inside
// their anonymous namespace. In step t, lane w computes column t - w of its row: its left
// neighbour is its own previous result, its upper and diagonal neighbours are lane w - 1's
// results of the previous two steps moved up one lane (lane 0's come from the row above the
// strip), and the cell is ((left + up) + diag) * kernel, as in the scalar sweep, with the local
// kernel (1 / (2 - e)) * e formed here from the cell's exponential.
//
// With the library's exp, each step also runs kRows exp calls of the next strip. The calls do
// not depend on the recurrence, whose chain (a shuffle, two additions and a multiplication per
// step) then runs in their shadow. With the lane exp (InLanes), each step computes its own
// cells' exponentials from their arguments, beside the chain just the same.

template <class Ops, class Exp>
void gak_strip(const rc::distances::gak_lanes::StripProblem& p) {
    using V = typename Ops::V;
    constexpr std::size_t L = rc::distances::gak_lanes::kRows, W = Ops::lanes, Vectors = L / W;
    static_assert(Vectors * W == L);
    const rc::LibmEntry& libm = *p.libm;
    const std::size_t m = p.m;
    const V zero = Ops::broadcast(0.0), one = Ops::broadcast(1.0), two = Ops::broadcast(2.0);
    V prev[Vectors], prev2[Vectors], lane_index[Vectors];  // results of steps t - 1 and t - 2
    for (std::size_t v = 0; v < Vectors; ++v) {
        prev[v] = prev2[v] = zero;  // column 0 and before: the boundary, 0 below the first row
        lane_index[v] = Ops::iota(static_cast<double>(v * W));
    }
    if (!Exp::in_lanes && p.next != nullptr)
        for (std::size_t w = 0; w < L; ++w) p.next[w] = libm.exp_or_zero(p.next[w]);
    for (std::size_t t = 1; t <= m + L - 1; ++t) {
        V out[Vectors];
        V carry_up = Ops::broadcast(t <= m ? p.above[t] : 0.0);
        V carry_diag = Ops::broadcast(t - 1 <= m ? p.above[t - 1] : 0.0);
        for (std::size_t v = 0; v < Vectors; ++v) {
            const V up = Ops::shift_in(prev[v], carry_up);
            const V diag = Ops::shift_in(prev2[v], carry_diag);
            carry_up = prev[v], carry_diag = prev2[v];
            // The local kernel (1 / (2 - e)) * e of the cell's exponential.
            V e = Ops::loadu(p.cells + t * L + v * W);
            if constexpr (Exp::in_lanes) e = Exp::template compute<Ops>(e);
            const V kernel = Ops::mul(Ops::div(one, Ops::sub(two, e)), e);
            out[v] = Ops::mul(Ops::add(Ops::add(prev[v], up), diag), kernel);
        }
        // Lanes whose row has not started hold its boundary, 0; lanes past their row's end are
        // read only by lanes past theirs.
        if (t < L) {
            const V started = Ops::broadcast(static_cast<double>(t));
            for (std::size_t v = 0; v < Vectors; ++v) out[v] = Ops::blend(Ops::lt(lane_index[v], started), out[v], zero);
        } else {
            p.below[t - (L - 1)] = Ops::last_lane(out[Vectors - 1]);
        }
        for (std::size_t v = 0; v < Vectors; ++v) prev2[v] = prev[v], prev[v] = out[v];
        if (!Exp::in_lanes && p.next != nullptr) {
            double* args = p.next + t * L;
            for (std::size_t w = 0; w < L; ++w) args[w] = libm.exp_or_zero(args[w]);
        }
    }
}
