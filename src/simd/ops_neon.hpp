// The NEON target of aarch64 (Advanced SIMD, part of every aarch64 processor): two doubles per
// vector, 32 vector registers, a fused multiply-add instruction. Comparisons give all-ones lanes.
// Where NEON's own instruction rounds or orders differently from the scalar rule (fmin's
// treatment of NaN and signed zeros), the operation is spelled out by comparisons and selections.
#pragma once

#include <arm_neon.h>

#include "simd/ops.hpp"

namespace rc::simd::neon {

#include "simd/ops_scalar-inl.hpp"
#include "simd/ops_integer-inl.hpp"

struct Neon {
    using V = float64x2_t;
    using M = uint64x2_t;  // all-ones lanes for true
    using I = uint64x2_t;
    using Offsets = int64x2_t;
    static constexpr std::size_t lanes = 2;
    static constexpr unsigned registers = 32;
    static constexpr bool native_fma = true;

    static V loadu(const double* p) { return vld1q_f64(p); }
    static void storeu(double* p, V v) { vst1q_f64(p, v); }
    static V broadcast(double x) { return vdupq_n_f64(x); }
    // p[0..lanes) with one load per lane: a vector load spanning values just stored one at a time
    // could not be forwarded from those stores.
    static V gather(const double* p) { return vld1q_lane_f64(p + 1, vld1q_dup_f64(p), 1); }
    static V iota(double base) { return vsetq_lane_f64(base + 1.0, vdupq_n_f64(base), 1); }
    // {carry[1], v[0]}
    static V shift_in(V v, V carry) { return vextq_f64(carry, v, 1); }
    static double first_lane(V v) { return vgetq_lane_f64(v, 0); }
    static double last_lane(V v) { return vgetq_lane_f64(v, 1); }
    // Four consecutive doubles of each of the two rows, transposed: out[u] lane k = rows[k][u].
    static void load_transposed(const double* const* rows, V (&out)[4]) {
        for (int u = 0; u < 4; u += 2) {
            const V a = loadu(rows[0] + u), b = loadu(rows[1] + u);
            out[u] = vzip1q_f64(a, b);
            out[u + 1] = vzip2q_f64(a, b);
        }
    }
    // Lane k from base + offsets[k] bytes; offsets from byte_offsets(first, step) = first + k * step.
    static Offsets byte_offsets(std::int64_t first, std::int64_t step) {
        return vsetq_lane_s64(first + step, vdupq_n_s64(first), 1);
    }
    static V gather_bytes(const double* base, Offsets offsets) {
        const auto* bytes = reinterpret_cast<const char*>(base);
        const V low = vld1q_dup_f64(reinterpret_cast<const double*>(bytes + vgetq_lane_s64(offsets, 0)));
        return vld1q_lane_f64(reinterpret_cast<const double*>(bytes + vgetq_lane_s64(offsets, 1)), low, 1);
    }

    static V add(V a, V b) { return vaddq_f64(a, b); }
    static V sub(V a, V b) { return vsubq_f64(a, b); }
    static V mul(V a, V b) { return vmulq_f64(a, b); }
    static V div(V a, V b) { return vdivq_f64(a, b); }
    static V fma(V a, V b, V c) { return vfmaq_f64(c, a, b); }  // c + a * b, rounded once
    static V sqrt(V a) { return vsqrtq_f64(a); }
    static V abs(V a) { return vabsq_f64(a); }
    static V neg(V a) { return vnegq_f64(a); }
    // a < b ? a : b (fmin would return NaN for a NaN operand and -0 for {-0, +0}).
    static V min(V a, V b) { return blend(lt(a, b), a, b); }
    static V min_ignoring_nan(V a, V b) { return blend(unordered(b), a, min(a, b)); }
    // a > b ? a : b (fmax would return NaN for a NaN operand).
    static V max(V a, V b) { return blend(lt(b, a), a, b); }

    static M lt(V a, V b) { return vcltq_f64(a, b); }
    static M le(V a, V b) { return vcleq_f64(a, b); }
    static M ge(V a, V b) { return vcgeq_f64(a, b); }
    static M eq(V a, V b) { return vceqq_f64(a, b); }
    static M not_lt(V a, V b) { return invert(lt(a, b)); }
    static M unordered(V a) { return invert(eq(a, a)); }
    static M either(M a, M b) { return vorrq_u64(a, b); }
    static M both(M a, M b) { return vandq_u64(a, b); }
    static V blend(M m, V a, V b) { return vbslq_f64(m, a, b); }
    static unsigned mask_bits(M m) {
        return static_cast<unsigned>((vgetq_lane_u64(m, 0) & 1u) | ((vgetq_lane_u64(m, 1) & 1u) << 1));
    }
    static bool any(M m) { return mask_bits(m) != 0; }
    // Not (|a| < inf): true for infinities and NaN.
    static unsigned not_finite(V a) { return mask_bits(not_lt(abs(a), broadcast(__builtin_inf()))); }

    static I bits(V v) { return vreinterpretq_u64_f64(v); }
    static V from_bits(I i) { return vreinterpretq_f64_u64(i); }
    static I broadcast_bits(std::uint64_t u) { return vdupq_n_u64(u); }
    static I add_bits(I a, I b) { return vaddq_u64(a, b); }
    static I and_bits(I a, I b) { return vandq_u64(a, b); }
    static I or_bits(I a, I b) { return vorrq_u64(a, b); }
    template <int N>
    static I shift_left(I i) { return vshlq_n_u64(i, N); }
    template <int N>
    static I shift_right(I i) { return vshrq_n_u64(i, N); }
    // {table[i[k]]} and {table[i[k] + 1]}: one 16-byte load per lane.
    static void gather_pairs(const std::uint64_t* table, I index, I& even, I& odd) {
        const std::uint64_t offsets[2] = {vgetq_lane_u64(index, 0), vgetq_lane_u64(index, 1)};
        const I a = vld1q_u64(table + offsets[0]), b = vld1q_u64(table + offsets[1]);
        even = vzip1q_u64(a, b);
        odd = vzip2q_u64(a, b);
    }

private:
    static M invert(M m) { return veorq_u64(m, vdupq_n_u64(~std::uint64_t{0})); }
};

struct Isa : InstructionSet<Target::neon, Neon, Neon, Scalar, IntegerLanes> {};

}  // namespace rc::simd::neon
