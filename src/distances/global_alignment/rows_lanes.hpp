// The accumulated matrices of L pairs of one shape, one pair per lane, swept row by row over the
// ops, every lane the scalar sweep: the plain sum, and beside it, from the same local kernels, the
// sum whose rows are each scaled by a power of two.
//
// A long series drives its self-similarity past the largest double and two distant series drive
// their kernel sum below the smallest one. The scaled sweep keeps such sums in range: once a row
// is complete, its entries are multiplied by 2^-s, s = ilogb of the row's largest entry (which
// brings that entry into [1, 2)), and s is added up apart. Scaling by a power of two rounds only
// where it lands in the subnormal range, exactly as ldexp does; no scale can be applied before the
// row's largest entry is known, so the lanes hold pairs here, not the rows of one pair. The
// multiplication is folded into the next row's reading of the entries, which rounds each value
// as scaling it in place would.
//
// The scaled sweep's result is mantissa * 2^exponent, the mantissa in [0.5, 1) (or 0). A lane's
// scaled sweep ends early at a row whose entries are all zero (every later row is zero too; its
// result is 0) or whose largest entry is not finite (its result is that row's last entry as it
// stands, with exponent 0).
#pragma once

#include <cmath>
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

#include "distances/cost/squared_cost.hpp"
#include "distances/global_alignment/cell.hpp"
#include "distances/global_alignment/kernels.hpp"

namespace rc::distances::global_alignment {

// ColumnOps: for one pair (L = 1), the ops whose lanes form the local kernels of a row's columns.
template <class Ops, std::size_t L, libm::ExpVariant Exp, bool Multiply, bool Scaled, class ColumnOps>
struct RowLanes {
    using V = typename Ops::V;
    using C = Cell<Ops>;
    static constexpr std::size_t W = Ops::lanes, Vectors = L / W;
    static_assert(Vectors * W == L);

    // Where each lane's scaled sweep stands: the factors 2^-s of the last row, as two powers of
    // two whose product is exact (one alone cannot reach beyond 2^1023), the powers taken out so
    // far, and the result of a lane that ended early.
    struct Scale {
        alignas(64) double first[L], second[L];
        std::int64_t exponent[L];
        bool ended[L];
        double result[L];
    };

    // Columns per chunk of a row: the chunk's local kernels are formed first, at the lanes' full
    // throughput with few values live (the exp's rare lanes that may turn subnormal take a call),
    // then the recurrences run through them; a chunk's kernels stay in the first-level cache.
    static constexpr std::size_t kChunk = 64 / Vectors;  // at most 64 vectors for ExactExp::compute_many

    // The local kernels of row i, columns first .. first + count - 1, into kernels[(j - first) * L ...].
    static void chunk_kernels(const RowGroup& p, std::size_t i, std::size_t first, std::size_t count, double* kernels) {
        if constexpr (L == 1 && ColumnOps::lanes > 1) {
            const std::size_t formed = column_kernels(p, i, first, count, kernels);
            first += formed, count -= formed, kernels += formed;
            if (count == 0) return;
        }
        const double* x = p.x + i * L;
        const V divisor = divisor_of<Ops>(p);
        V arguments[kChunk * Vectors];
        for (std::size_t c = 0; c < count; ++c) {
            const double* y = p.y + (first + c - 1) * L;
            V cost[Vectors];
            cost::squared_costs<Ops, Vectors>(
                p.d, [&](std::size_t f, std::size_t v) { return Ops::loadu(x + f * p.n * L + v * W); },
                [&](std::size_t f, std::size_t v) { return Ops::loadu(y + f * p.m * L + v * W); }, cost);
            for (std::size_t v = 0; v < Vectors; ++v)
                arguments[c * Vectors + v] = Cell<Ops>::template argument<Multiply>(cost[v], divisor);
        }
        kernels_of_arguments<Ops>(p, arguments, count * Vectors, kernels);
    }

    // One pair's kernels of row i, ColumnOps::lanes columns to a vector (a row's kernels do not
    // depend on each other), for the whole vectors of columns from `first`. Returns how many
    // columns it formed. With one lane the features are laid out step after step, so a vector
    // loads the steps of its columns at once.
    static std::size_t column_kernels(const RowGroup& p, std::size_t i, std::size_t first, std::size_t count,
                                      double* kernels) {
        using CV = typename ColumnOps::V;
        constexpr std::size_t CW = ColumnOps::lanes;
        const std::size_t vectors = count / CW;
        const CV divisor = divisor_of<ColumnOps>(p);
        CV arguments[kChunk / CW];
        for (std::size_t c = 0; c < vectors; ++c) {
            const double* y = p.y + first + c * CW - 1;  // step j - 1 of y for column j
            CV cost[1];
            cost::squared_costs<ColumnOps, 1>(
                p.d, [&](std::size_t f, std::size_t) { return ColumnOps::broadcast(p.x[f * p.n + i]); },
                [&](std::size_t f, std::size_t) { return ColumnOps::loadu(y + f * p.m); }, cost);
            arguments[c] = Cell<ColumnOps>::template argument<Multiply>(cost[0], divisor);
        }
        kernels_of_arguments<ColumnOps>(p, arguments, vectors, kernels);
        return vectors * CW;
    }

    // What Cell::argument divides (or multiplies) a cost by.
    template <class O>
    static typename O::V divisor_of(const RowGroup& p) {
        return O::broadcast(Multiply ? p.exact_reciprocal : p.divisor);
    }

    // The local kernels of a chunk's `vectors` vectors of exp arguments of O (at most 64, for
    // ExactExp::compute_many), formed in place and stored at kernels[c * O::lanes ...], every lane
    // as the one-lane code forms it.
    template <class O>
    [[gnu::always_inline]] static void kernels_of_arguments(const RowGroup& p, typename O::V* values,
                                                            std::size_t vectors, double* kernels) {
        using CC = Cell<O>;
        if constexpr (Exp == libm::ExpVariant::library)
            for (std::size_t c = 0; c < vectors; ++c) values[c] = CC::template exponential<Exp>(values[c], *p.libm);
        else
            libm::ExactExp<O, Exp == libm::ExpVariant::fused>::compute_many(values, vectors);
        for (std::size_t c = 0; c < vectors; ++c) O::storeu(kernels + c * O::lanes, CC::local_kernel(values[c]));
    }

    // Row i of both sweeps, each row written over the row above it as its cells are formed (a
    // cell's diagonal neighbour is the upper one of the cell before), and each lane's largest
    // magnitude of the scaled row (the first NaN or larger one replacing it, as `!(|v| <=
    // largest)` does in the scalar sweep).
    // v * 2^-s as the scalar sweep's ldexp gives it: one multiplication by an exact power of two
    // rounds the same way.
    template <bool TwoFactors>
    [[gnu::always_inline]] static V scale_by(V v, V factor1, V factor2) {
        return TwoFactors ? Ops::mul(Ops::mul(v, factor1), factor2) : Ops::mul(v, factor1);
    }

    // TwoFactors: some lane's row scales up by more than 2^1023 (its entries all subnormal), in two
    // exact steps; otherwise in one.
    template <bool TwoFactors>
    static void row(const RowGroup& p, std::size_t i, double* plain, double* scaled, const Scale& scale,
                    V (&largest)[Vectors]) {
        V factor1[Vectors], factor2[Vectors], plain_left[Vectors], scaled_left[Vectors];
        V plain_diag[Vectors], scaled_diag[Vectors];
        for (std::size_t v = 0; v < Vectors; ++v) {
            plain_left[v] = scaled_left[v] = Ops::broadcast(0.0);  // column 0 of a row below the first
            plain_diag[v] = Ops::loadu(plain + v * W);
            Ops::storeu(plain + v * W, plain_left[v]);
            if constexpr (Scaled) {
                factor1[v] = Ops::loadu(scale.first + v * W);
                factor2[v] = Ops::loadu(scale.second + v * W);
                scaled_diag[v] = scale_by<TwoFactors>(Ops::loadu(scaled + v * W), factor1[v], factor2[v]);
                Ops::storeu(scaled + v * W, scaled_left[v]);
            }
            largest[v] = Ops::broadcast(0.0);
        }
        alignas(64) double kernels[kChunk * L];
        for (std::size_t first = 1; first <= p.m; first += kChunk) {
            const std::size_t count = p.m + 1 - first < kChunk ? p.m + 1 - first : kChunk;
            chunk_kernels(p, i, first, count, kernels);
            for (std::size_t c = 0; c < count; ++c) {
                const std::size_t j = first + c;
                for (std::size_t v = 0; v < Vectors; ++v) {
                    const V kernel = Ops::loadu(kernels + c * L + v * W);
                    double* at = plain + j * L + v * W;
                    const V plain_up = Ops::loadu(at);
                    plain_left[v] = C::sum(plain_left[v], plain_up, plain_diag[v], kernel);
                    plain_diag[v] = plain_up;
                    Ops::storeu(at, plain_left[v]);
                    if constexpr (Scaled) {
                        double* scaled_at = scaled + j * L + v * W;
                        const V scaled_up = scale_by<TwoFactors>(Ops::loadu(scaled_at), factor1[v], factor2[v]);
                        scaled_left[v] = C::sum(scaled_left[v], scaled_up, scaled_diag[v], kernel);
                        scaled_diag[v] = scaled_up;
                        Ops::storeu(scaled_at, scaled_left[v]);
                        // largest > |v| ? largest : |v|, the same as !(|v| <= largest) ? |v| : largest.
                        largest[v] = Ops::max(largest[v], Ops::abs(scaled_left[v]));
                    }
                }
            }
        }
    }

    // After a row of the scaled sweep: each lane still running either ends (a zero or non-finite
    // largest entry) or takes out the row's power of two, to be applied as the next row reads it
    // (or, after the last row, to its last entry).
    static void rescale(const V (&largest)[Vectors], const double* scaled_row, std::size_t m, Scale& scale) {
        alignas(64) double largest_lanes[L];
        for (std::size_t v = 0; v < Vectors; ++v) Ops::storeu(largest_lanes + v * W, largest[v]);
        for (std::size_t k = 0; k < L; ++k) {
            if (scale.ended[k]) continue;
            const double top = largest_lanes[k];
            if (top == 0.0 || !std::isfinite(top)) {
                scale.ended[k] = true;
                scale.result[k] = top == 0.0 ? 0.0 : scaled_row[m * L + k];
                scale.exponent[k] = 0;
                continue;
            }
            const int shift = std::ilogb(top);
            scale.exponent[k] += shift;
            // 2^-shift, as one factor where it is a double (2^-1023 a subnormal one), else as
            // 2^1023 times the rest: the row's entries, all subnormal then, scale up exactly.
            scale.first[k] = std::ldexp(1.0, -shift <= 1023 ? -shift : 1023);
            scale.second[k] = -shift <= 1023 ? 1.0 : std::ldexp(1.0, -shift - 1023);
        }
    }

    static void run(const RowGroup& p) {
        const std::size_t width = (p.m + 1) * L;
        double* plain = p.rows;
        double* scaled = plain + width;
        // Row 0 of both: R[0][0] = 1, then the boundary, 0.
        for (std::size_t k = 0; k < width; ++k) plain[k] = k < L ? 1.0 : 0.0;
        if constexpr (Scaled) std::copy(plain, plain + width, scaled);
        Scale scale;
        for (std::size_t k = 0; k < L; ++k) {
            scale.first[k] = scale.second[k] = 1.0;
            scale.exponent[k] = 0;
            scale.ended[k] = false;
            scale.result[k] = 0.0;
        }
        for (std::size_t i = 0; i < p.n; ++i) {
            V largest[Vectors];
            bool two_factors = false;
            for (std::size_t k = 0; k < L; ++k) two_factors |= scale.second[k] != 1.0;
            if (two_factors) [[unlikely]]
                row<true>(p, i, plain, scaled, scale, largest);
            else
                row<false>(p, i, plain, scaled, scale, largest);
            if constexpr (Scaled) rescale(largest, scaled, p.m, scale);
        }
        for (std::size_t k = 0; k < L; ++k) {
            p.plain[k] = plain[p.m * L + k];
            if constexpr (Scaled) {
                if (scale.ended[k]) {
                    p.mantissas[k] = scale.result[k], p.exponents[k] = 0;
                    continue;
                }
                int exponent = 0;
                p.mantissas[k] = std::frexp(scaled[p.m * L + k] * scale.first[k] * scale.second[k], &exponent);
                p.exponents[k] = scale.exponent[k] + exponent;
            }
        }
    }
};

template <class Ops, std::size_t L, class ColumnOps, libm::ExpVariant Exp, bool Multiply>
void rows_with(const RowGroup& p) {
    if (p.mantissas != nullptr)
        RowLanes<Ops, L, Exp, Multiply, true, ColumnOps>::run(p);
    else
        RowLanes<Ops, L, Exp, Multiply, false, ColumnOps>::run(p);
}

template <class Ops, std::size_t L, class ColumnOps, libm::ExpVariant Exp>
void rows_with(const RowGroup& p) {
    if (p.exact_reciprocal != 0.0)
        rows_with<Ops, L, ColumnOps, Exp, true>(p);
    else
        rows_with<Ops, L, ColumnOps, Exp, false>(p);
}

template <class Ops, std::size_t L, class ColumnOps = Ops>
void rows(const RowGroup& p) {
    switch (p.exp) {
        case libm::ExpVariant::fused: return rows_with<Ops, L, ColumnOps, libm::ExpVariant::fused>(p);
        case libm::ExpVariant::plain: return rows_with<Ops, L, ColumnOps, libm::ExpVariant::plain>(p);
        case libm::ExpVariant::library: return rows_with<Ops, L, ColumnOps, libm::ExpVariant::library>(p);
    }
}

}  // namespace rc::distances::global_alignment
