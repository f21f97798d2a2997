// The vocabulary every kernel is written in: what an ops struct of one vector width provides, and
// what an instruction set bundles. Kernels are templates over an instruction set (`Isa`) and its
// ops structs; each target's ops file (ops_<target>.hpp) defines them inside the target's own
// namespace, so that every instantiation compiled with a target's instructions has a name of its
// own and the linker can never hand one target's code to another's caller.
#pragma once

#include <bit>
#include <cmath>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "simd/targets.hpp"

namespace rc::simd {

// One vector width of doubles (`lanes` of them, one for the scalar ops), with comparison masks
// (M), 64-bit integer lanes of the same width (I) and byte offsets for gathers (Offsets). Every
// lane of every operation rounds exactly as the scalar IEEE operation does; nothing fuses or
// reassociates except `fma`, which rounds once by definition.
template <class O>
concept VectorOps = requires(typename O::V v, typename O::M m, typename O::I i, typename O::Offsets offsets,
                             const double* in, double* out, const double* const* rows, typename O::V (&four)[4],
                             const std::uint64_t* table, typename O::I& word,
                             double x, std::uint64_t u, std::int64_t s) {
    { O::lanes } -> std::convertible_to<std::size_t>;
    { O::registers } -> std::convertible_to<unsigned>;   // vector registers of the instruction set
    { O::native_fma } -> std::convertible_to<bool>;      // fma is one instruction, not a call
    // Memory and lanes.
    { O::loadu(in) } -> std::same_as<typename O::V>;
    O::storeu(out, v);
    { O::broadcast(x) } -> std::same_as<typename O::V>;
    { O::gather(in) } -> std::same_as<typename O::V>;  // in[0..lanes), one load per lane
    { O::iota(x) } -> std::same_as<typename O::V>;     // x, x + 1, ...
    { O::shift_in(v, v) } -> std::same_as<typename O::V>;  // {carry[last], v[0], ..., v[lanes - 2]}
    { O::first_lane(v) } -> std::same_as<double>;
    { O::last_lane(v) } -> std::same_as<double>;
    O::load_transposed(rows, four);  // four[u] lane k = rows[k][u]
    { O::byte_offsets(s, s) } -> std::same_as<typename O::Offsets>;  // first + k * step for lane k
    { O::gather_bytes(in, offsets) } -> std::same_as<typename O::V>;  // lane k from in + offsets[k] bytes
    // Arithmetic.
    { O::add(v, v) } -> std::same_as<typename O::V>;
    { O::sub(v, v) } -> std::same_as<typename O::V>;
    { O::mul(v, v) } -> std::same_as<typename O::V>;
    { O::div(v, v) } -> std::same_as<typename O::V>;
    { O::fma(v, v, v) } -> std::same_as<typename O::V>;
    { O::sqrt(v) } -> std::same_as<typename O::V>;
    { O::abs(v) } -> std::same_as<typename O::V>;
    { O::neg(v) } -> std::same_as<typename O::V>;
    { O::min(v, v) } -> std::same_as<typename O::V>;               // a < b ? a : b
    { O::min_ignoring_nan(v, v) } -> std::same_as<typename O::V>;  // b NaN ? a : min(a, b)
    { O::max(v, v) } -> std::same_as<typename O::V>;               // a > b ? a : b
    // Comparisons (ordered unless named otherwise) and masks.
    { O::lt(v, v) } -> std::same_as<typename O::M>;
    { O::le(v, v) } -> std::same_as<typename O::M>;
    { O::ge(v, v) } -> std::same_as<typename O::M>;
    { O::eq(v, v) } -> std::same_as<typename O::M>;
    { O::not_lt(v, v) } -> std::same_as<typename O::M>;  // true for NaN
    { O::unordered(v) } -> std::same_as<typename O::M>;
    { O::either(m, m) } -> std::same_as<typename O::M>;
    { O::both(m, m) } -> std::same_as<typename O::M>;
    { O::blend(m, v, v) } -> std::same_as<typename O::V>;  // m ? a : b
    { O::mask_bits(m) } -> std::same_as<unsigned>;         // bit k for lane k
    { O::any(m) } -> std::same_as<bool>;
    { O::not_finite(v) } -> std::same_as<unsigned>;        // lanes with infinity or NaN, as bits
    // 64-bit integer lanes.
    { O::bits(v) } -> std::same_as<typename O::I>;
    { O::from_bits(i) } -> std::same_as<typename O::V>;
    { O::broadcast_bits(u) } -> std::same_as<typename O::I>;
    { O::add_bits(i, i) } -> std::same_as<typename O::I>;  // modulo 2^64
    { O::and_bits(i, i) } -> std::same_as<typename O::I>;
    { O::or_bits(i, i) } -> std::same_as<typename O::I>;
    { O::template shift_left<1>(i) } -> std::same_as<typename O::I>;
    { O::template shift_right<1>(i) } -> std::same_as<typename O::I>;
    // Table words {table[i[k]]} and {table[i[k] + 1]}.
    O::gather_pairs(table, i, word, word);
};

// Lanes of signed integers with comparisons (ops_integer-inl.hpp).
template <class O, class S>
concept IntegerOps = requires(typename O::V v, const S* at, S value) {
    { O::lanes } -> std::convertible_to<std::size_t>;
    { O::load(at) } -> std::same_as<typename O::V>;
    { O::broadcast(value) } -> std::same_as<typename O::V>;
    { O::greater(v, v) } -> std::same_as<typename O::V>;  // all bits of a lane set where a > b
    { O::either(v, v) } -> std::same_as<typename O::V>;
    { O::all(v) } -> std::same_as<bool>;
    { O::any(v) } -> std::same_as<bool>;
    { O::bits(v) } -> std::same_as<std::uint64_t>;  // bit k for lane k
};

// An instruction set as the kernels see it: its widest ops, a narrower vector width for kernels
// that want at most its lanes, and one lane, all complete (an ops struct lacking an operation of
// VectorOps does not compile here); and signed 16- and 32-bit integer lanes, in vectors of the
// widest ops' size (Integers) and of 16 bytes (Integers16).
template <Target Id, VectorOps WideOps, VectorOps NarrowOps, VectorOps ScalarOps,
          template <class, std::size_t> class IntegerLanesOf>
    requires(ScalarOps::lanes == 1 && NarrowOps::lanes <= WideOps::lanes &&
             IntegerOps<IntegerLanesOf<std::int16_t, 16>, std::int16_t> &&
             IntegerOps<IntegerLanesOf<std::int32_t, 16>, std::int32_t>)
struct InstructionSet {
    static constexpr Target id = Id;
    using Wide = WideOps;
    using Narrow = NarrowOps;
    using Scalar = ScalarOps;
    template <class S>
    using Integers = IntegerLanesOf<S, WideOps::lanes * sizeof(double) < 16 ? 16 : WideOps::lanes * sizeof(double)>;
    template <class S>
    using Integers16 = IntegerLanesOf<S, 16>;

    // The widest of the three whose lanes divide L: the ops for a group of L lanes.
    template <std::size_t L>
    using Dividing = std::conditional_t<L % Wide::lanes == 0, Wide,
                                        std::conditional_t<L % Narrow::lanes == 0, Narrow, Scalar>>;
};

}  // namespace rc::simd
