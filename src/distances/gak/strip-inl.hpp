// The GAK recurrence over a strip of L rows of one pair (or of a series against itself), one row per lane, written once over an
// ops struct (with Ops = Scalar, one row per element of an array of values), and the local
// kernels. Included only by the target files, inside the target's namespace and after
// gak/kernels.hpp (no include guard, no includes). In step t, lane w computes column t - w of
// its row: its left
// neighbour is its own previous result, its upper and diagonal neighbours are lane w - 1's
// results of the previous two steps moved up one lane (lane 0's come from the row above the
// strip), and the cell is ((left + up) + diag) * kernel, as in the scalar sweep, with the local
// kernel (1 / (2 - e)) * e formed here from the cell's exponential.
//
// With the library's exp, each step also runs L exp calls of the next strip. The calls do not
// depend on the recurrence, whose chain (a shuffle, two additions and a multiplication per step)
// then runs in their shadow. With the lane exp, each step takes the exp of its own cells'
// arguments beside the chain just the same.

namespace gak_strips {

// The cells' exponentials: as given (library), or the exp of the given arguments in lanes, with
// the one-lane steps of the same algorithm where the ops have no integer lanes.
template <class Ops>
typename Ops::V exponential(typename Ops::V cells, rc::simd::ExpVariant exp) {
    using rc::simd::ExpVariant;
    if constexpr (requires { typename Ops::I; }) {
        if (exp == ExpVariant::fused) return ExactExp<Ops, true>::compute(cells);
        if (exp == ExpVariant::plain) return ExactExp<Ops, false>::compute(cells);
    } else {
        if (exp == ExpVariant::fused) return exp_one<true>(cells);
        if (exp == ExpVariant::plain) return exp_one<false>(cells);
    }
    return cells;
}

// Triangle: the strip's rows are rows i0 + 1.. of the lower triangle of a series against itself
// (p.first_row = i0, m = i0 + L): on its diagonal a lane takes as its upper neighbour the mirror
// of its left one, R[i - 1][i] = R[i][i - 1]; past it a lane's cells are read by no cell of the
// triangle.
template <class Ops, std::size_t L, bool Triangle>
void strip(const rc::distances::global_alignment::StripProblem& p) {
    using V = typename Ops::V;
    constexpr std::size_t W = Ops::lanes, Vectors = L / W;
    static_assert(Vectors * W == L);
    const rc::LibmEntry& libm = *p.libm;
    const std::size_t m = p.m;
    const V zero = Ops::broadcast(0.0), one = Ops::broadcast(1.0), two = Ops::broadcast(2.0);
    const V divisor = Ops::broadcast(p.divisor), reciprocal = Ops::broadcast(p.exact_reciprocal);
    const bool multiply = p.exact_reciprocal != 0.0;
    V prev[Vectors], prev2[Vectors], lane_index[Vectors];  // results of steps t - 1 and t - 2
    V diagonal_step[Vectors];  // Triangle: lane k reaches its diagonal in step i0 + 1 + 2k
    for (std::size_t v = 0; v < Vectors; ++v) {
        prev[v] = prev2[v] = zero;  // column 0 and before: the boundary, 0 below the first row
        lane_index[v] = Ops::iota(static_cast<double>(v * W));
        diagonal_step[v] = Ops::add(Ops::add(lane_index[v], lane_index[v]), Ops::broadcast(static_cast<double>(p.first_row + 1)));
    }
    if (p.next != nullptr)
        for (std::size_t w = 0; w < L; ++w) p.next[w] = exp_or_zero(libm, p.next[w]);
    for (std::size_t t = 1; t <= m + L - 1; ++t) {
        V out[Vectors];
        V carry_up = Ops::broadcast(t <= m ? p.above[t] : 0.0);
        V carry_diag = Ops::broadcast(t - 1 <= m ? p.above[t - 1] : 0.0);
        for (std::size_t v = 0; v < Vectors; ++v) {
            V up = Ops::shift_in(prev[v], carry_up);
            if constexpr (Triangle) up = Ops::blend(Ops::eq(Ops::broadcast(static_cast<double>(t)), diagonal_step[v]), prev[v], up);
            const V diag = Ops::shift_in(prev2[v], carry_diag);
            carry_up = prev[v], carry_diag = prev2[v];
            // The local kernel (1 / (2 - e)) * e of the cell's exponential.
            V cells = Ops::loadu(p.exponentials + t * L + v * W);
            if (p.exp != rc::simd::ExpVariant::library)
                cells = multiply ? Ops::mul(cells, reciprocal) : Ops::div(cells, divisor);
            const V e = exponential<Ops>(cells, p.exp);
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
        if (p.next != nullptr) {
            double* args = p.next + t * L;
            for (std::size_t w = 0; w < L; ++w) args[w] = exp_or_zero(libm, args[w]);
        }
    }
}

}  // namespace gak_strips
