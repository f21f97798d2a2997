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
// arguments beside the chain just the same; the feature strips further down (the lane exp's
// usual path) also form those arguments from the features themselves.

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

// --- local kernels formed in the lanes from the features -----------------------------------------
//
// The strip above with the lane exp, where each step first forms its cells' local kernels from
// the series' features (the cost, -cost / divisor, its exp, (1 / (2 - e)) * e, each lane the
// scalar sequence) and then advances the recurrence. The kernels of a step do not depend on the
// recurrence, so they run in its shadow as the library calls do above. No step calls a function:
// a call would move the recurrence's values through memory, and the store-to-load round trip
// would lengthen its chain more than its own arithmetic. A step whose exp leaves a lane to the
// one-lane path (a result that overflows or turns subnormal, rare) is taken by a separate
// careful step instead.

namespace gak_feature_strips {

using rc::distances::global_alignment::FeatureStrip;

// The target's ops with the exp's table offsets read back from memory where the ops can take
// them from there: extracting eight offsets from a vector costs more issue slots than a store
// and eight loads, and this exp runs beside a short recurrence that leaves the load ports free
// (measured about 6% per cell on AVX-512; soft-DTW's cells, which load more, keep the extraction).
template <class Ops>
struct OffsetsFromMemory : Ops {
    static void gather_pairs(const std::uint64_t* table, typename Ops::I index, typename Ops::I& even,
                             typename Ops::I& odd) {
        alignas(64) std::uint64_t offsets[Ops::lanes];
        std::memcpy(offsets, &index, sizeof offsets);
        asm("" : "+m"(offsets));  // the compiler would forward the vector into extractions
        Ops::gather_pairs_at(table, offsets, even, odd);
    }
};

template <class Ops>
using ExpOps = std::conditional_t<requires(const std::uint64_t (&offsets)[Ops::lanes], typename Ops::I& i) {
    Ops::gather_pairs_at(nullptr, offsets, i, i);
}, OffsetsFromMemory<Ops>, Ops>;

template <class Ops, std::size_t L, bool Triangle, bool Fused, bool Multiply>
struct Lanes {
    using V = typename Ops::V;
    static constexpr std::size_t W = Ops::lanes, Vectors = L / W;
    static_assert(Vectors * W == L);

    // The recurrence's results of step t - 1, and the diagonal neighbours of step t: the results
    // of step t - 2 moved up one lane, which step t - 1 already formed as its upper neighbours
    // (before the triangle's mirror), so each step moves one vector across lanes, not two.
    struct State {
        V prev[Vectors], diag[Vectors];
    };

    // The local kernels of step t into `kernel`. Edge: steps where some lanes lie outside their
    // row, whose exp arguments are replaced by an ordinary -1 (their results are discarded or
    // read only by lanes outside their rows). Unless Careful, returns false, `kernel` unset,
    // when the inline exp leaves a lane unsettled.
    template <bool Careful, bool Edge>
    [[gnu::always_inline]] static bool local_kernels(const FeatureStrip& p, std::size_t t, V (&kernel)[Vectors]) {
        const V one = Ops::broadcast(1.0), two = Ops::broadcast(2.0);
        const double* x = p.x + p.first_row;
        const double* y = p.y_reversed + (static_cast<std::ptrdiff_t>(p.y_steps) - static_cast<std::ptrdiff_t>(t));
        V e[Vectors];
        unsigned unsettled = 0;
        for (std::size_t v = 0; v < Vectors; ++v) {
            // The cost as the cost rows sum it: from 0.0, the squared differences x - y by feature.
            // The first feature outside the loop, which then has nothing to do for one feature;
            // 0.0 + diff * diff is diff * diff to the bit (a square is never -0, a NaN stays
            // the same NaN), so that addition is left out.
            const V first = Ops::sub(Ops::loadu(x + v * W), Ops::loadu(y + v * W));
            V cost = Ops::mul(first, first);
            for (std::size_t f = 1; f < p.d; ++f) {
                const V diff = Ops::sub(Ops::loadu(x + f * p.x_stride + v * W), Ops::loadu(y + f * p.y_stride + v * W));
                cost = Ops::add(cost, Ops::mul(diff, diff));
            }
            V argument = Ops::neg(cost);
            argument = Multiply ? Ops::mul(argument, Ops::broadcast(p.exact_reciprocal))
                                : Ops::div(argument, Ops::broadcast(p.divisor));
            if constexpr (Edge) {
                // Lane w holds column t - 1 - w (from 0) of its row, inside it for 0 <= t - 1 - w < m.
                const V lane = Ops::iota(static_cast<double>(v * W));
                const auto inside = Ops::both(Ops::lt(lane, Ops::broadcast(static_cast<double>(t))),
                                              Ops::le(Ops::broadcast(static_cast<double>(t) - static_cast<double>(p.m)), lane));
                argument = Ops::blend(inside, argument, Ops::broadcast(-1.0));
            }
            if constexpr (requires { typename Ops::I; }) {
                if constexpr (Careful) {
                    e[v] = ExactExp<ExpOps<Ops>, Fused>::compute(argument);
                } else {
                    unsigned left = 0;
                    e[v] = ExactExp<ExpOps<Ops>, Fused>::compute_settled(argument, left);
                    unsettled |= left;
                }
            } else {
                e[v] = exp_one<Fused>(argument);
            }
        }
        if (!Careful && unsettled != 0) return false;
        for (std::size_t v = 0; v < Vectors; ++v) kernel[v] = Ops::mul(Ops::div(one, Ops::sub(two, e[v])), e[v]);
        return true;
    }

    // Step t of the recurrence (see strip above), the results moved into prev and diag.
    template <bool Edge>
    [[gnu::always_inline]] static void advance(const FeatureStrip& p, std::size_t t, const V (&kernel)[Vectors],
                                               V (&prev)[Vectors], V (&diag)[Vectors]) {
        const std::size_t m = p.m;
        V carry = Ops::broadcast(!Edge || t <= m ? p.above[t] : 0.0);
        V out[Vectors];
        for (std::size_t v = 0; v < Vectors; ++v) {
            const V shifted = Ops::shift_in(prev[v], carry);
            carry = prev[v];
            V up = shifted;
            if constexpr (Triangle) {
                // Lane k reaches its diagonal in step i0 + 1 + 2k, where its upper neighbour is
                // the mirror of its left one.
                const V lane = Ops::iota(static_cast<double>(v * W));
                const V diagonal_step = Ops::add(Ops::add(lane, lane), Ops::broadcast(static_cast<double>(p.first_row + 1)));
                up = Ops::blend(Ops::eq(Ops::broadcast(static_cast<double>(t)), diagonal_step), prev[v], up);
            }
            out[v] = Ops::mul(Ops::add(Ops::add(prev[v], up), diag[v]), kernel[v]);
            diag[v] = shifted;
        }
        if (Edge && t < L) {
            // Lanes whose row has not started hold its boundary, 0.
            const V started = Ops::broadcast(static_cast<double>(t));
            for (std::size_t v = 0; v < Vectors; ++v)
                out[v] = Ops::blend(Ops::lt(Ops::iota(static_cast<double>(v * W)), started), out[v], Ops::broadcast(0.0));
        }
        if (!Edge || t >= L) p.below[t - (L - 1)] = Ops::last_lane(out[Vectors - 1]);
        for (std::size_t v = 0; v < Vectors; ++v) prev[v] = out[v];
    }

    // Steps [t, end) up to the first whose exp leaves a lane unsettled; returns the step reached.
    // The state is copied in and out so that it lives in registers inside the loop.
    template <bool Edge>
    static std::size_t fast_steps(const FeatureStrip& problem, State& state, std::size_t t, std::size_t end) {
        const FeatureStrip p = problem;  // a copy no store of the loop can touch, kept in registers
        V prev[Vectors], diag[Vectors];
        for (std::size_t v = 0; v < Vectors; ++v) prev[v] = state.prev[v], diag[v] = state.diag[v];
        // Each step forms the next step's kernels before its own recurrence, one step ahead.
        V kernel[Vectors];
        bool ready = t < end && local_kernels<false, Edge>(p, t, kernel);
        while (ready) {
            V next[Vectors];
            ready = t + 1 < end && local_kernels<false, Edge>(p, t + 1, next);
            advance<Edge>(p, t, kernel, prev, diag);
            ++t;
            for (std::size_t v = 0; v < Vectors; ++v) kernel[v] = next[v];
        }
        for (std::size_t v = 0; v < Vectors; ++v) state.prev[v] = prev[v], state.diag[v] = diag[v];
        return t;
    }

    template <bool Edge>
    [[gnu::noinline]] static void careful_step(const FeatureStrip& p, State& state, std::size_t t) {
        V kernel[Vectors];
        local_kernels<true, Edge>(p, t, kernel);
        advance<Edge>(p, t, kernel, state.prev, state.diag);
    }

    template <bool Edge>
    static void steps(const FeatureStrip& p, State& state, std::size_t t, std::size_t end) {
        while (t < end) {
            t = fast_steps<Edge>(p, state, t, end);
            if (t < end) careful_step<Edge>(p, state, t++);
        }
    }

    static void run(const FeatureStrip& p) {
        State state;
        // Before step 1: the boundary, 0 below the first row, and R[i0][0] diagonal to lane 0.
        for (std::size_t v = 0; v < Vectors; ++v) state.prev[v] = state.diag[v] = Ops::broadcast(0.0);
        state.diag[0] = Ops::shift_in(state.diag[0], Ops::broadcast(p.above[0]));
        const std::size_t m = p.m, end = m + L;  // steps 1 .. m + L - 1
        steps<true>(p, state, 1, L);                      // some rows not started
        steps<false>(p, state, L, m + 1);                 // every lane inside its row
        steps<true>(p, state, std::max(L, m + 1), end);  // some rows ended
    }
};

template <class Ops, std::size_t L, bool Triangle>
void strip(const FeatureStrip& p) {
    if (p.fused)
        p.exact_reciprocal != 0.0 ? Lanes<Ops, L, Triangle, true, true>::run(p) : Lanes<Ops, L, Triangle, true, false>::run(p);
    else
        p.exact_reciprocal != 0.0 ? Lanes<Ops, L, Triangle, false, true>::run(p) : Lanes<Ops, L, Triangle, false, false>::run(p);
}

}  // namespace gak_feature_strips
