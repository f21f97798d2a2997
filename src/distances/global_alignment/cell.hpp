// The GAK cell, written once over the ops for every sweep: the exp argument of a cell's cost, its
// exponential (the C library's, or the lane exp that reproduces it), the local kernel, and the
// recurrence of the accumulated matrix.
#pragma once

#include <cstddef>

#include "libm/entries.hpp"
#include "libm/exp_lanes.hpp"

namespace rc::distances::global_alignment {

template <class Ops>
struct Cell {
    using V = typename Ops::V;

    // -cost / divisor; with Multiply, -cost * (1 / divisor), the reciprocal exact (a power of two
    // divisor), which rounds the same exact value for a fraction of a division's cost.
    template <bool Multiply>
    [[gnu::always_inline]] static V argument(V cost, V divisor_or_reciprocal) {
        const V negated = Ops::neg(cost);
        return Multiply ? Ops::mul(negated, divisor_or_reciprocal) : Ops::div(negated, divisor_or_reciprocal);
    }

    // (1 / (2 - e)) * e of a cell's exponential e.
    [[gnu::always_inline]] static V local_kernel(V e) {
        return Ops::mul(Ops::div(Ops::broadcast(1.0), Ops::sub(Ops::broadcast(2.0), e)), e);
    }

    // R[i][j] = ((R[i][j - 1] + R[i - 1][j]) + R[i - 1][j - 1]) * kernel.
    [[gnu::always_inline]] static V sum(V left, V up, V diag, V kernel) {
        return Ops::mul(Ops::add(Ops::add(left, up), diag), kernel);
    }

    // exp of every lane of an argument: the library's, one call per lane (without the call below
    // the bound where it gives +0), or the lane exp of the variant that reproduces it.
    template <libm::ExpVariant Exp>
    [[gnu::always_inline]] static V exponential(V argument, const libm::Entries& libm) {
        if constexpr (Exp == libm::ExpVariant::library) {
            alignas(64) double lanes[Ops::lanes];
            Ops::storeu(lanes, argument);
            for (std::size_t k = 0; k < Ops::lanes; ++k) lanes[k] = libm.exp_or_zero(lanes[k]);
            return Ops::gather(lanes);
        } else {
            return libm::ExactExp<Ops, Exp == libm::ExpVariant::fused>::compute(argument);
        }
    }
};

}  // namespace rc::distances::global_alignment
