// The vector kernels of kernels.hpp, written once over the target's lanes of signed 16- or
// 32-bit integers (simd/ops_integer-inl.hpp): members in vectors of the target's width, node
// boxes 16 bytes at a time.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "algorithm/nds/kernels.hpp"

namespace rc::algorithm::nds {

// The lanes of a block whose member is above the point in some column, given the point in the
// block's order of columns: `point(j)` is coordinate columns[j] broadcast. Columns go three at
// a time between the checks (most members fail in the first few, and a branch per column
// would cost more than the comparisons it saves); returns early, with every lane set, once
// every member has failed.
template <class Lanes, class S, class PointLanes>
[[gnu::always_inline]] inline typename Lanes::V members_above(const S* block, PointLanes point,
                                                             const std::uint32_t* columns, std::size_t dims) {
    constexpr std::size_t lanes = Lanes::lanes;
    auto above = [&](std::size_t j) { return Lanes::greater(Lanes::load(block + columns[j] * lanes), point(j)); };
    typename Lanes::V failed = above(0);
    for (std::size_t j = 1; j < dims; j += 3) {
        if (Lanes::all(failed)) break;
        failed = Lanes::either(failed, above(j));
        if (j + 1 < dims) failed = Lanes::either(failed, above(j + 1));
        if (j + 2 < dims) failed = Lanes::either(failed, above(j + 2));
    }
    return failed;
}

// Runs scan(point_lanes) with the point's coordinates broadcast into lanes, once per call,
// by this target's own instructions (up to kTreeMaxDims columns; beyond, per comparison).
template <class Lanes, class S, class Scan>
[[gnu::always_inline]] inline bool with_point_lanes(const S* point, std::size_t dims, Scan scan) {
    if (dims <= kTreeMaxDims) {
        typename Lanes::V lanes_of[kTreeMaxDims];
        for (std::size_t j = 0; j < dims; ++j) lanes_of[j] = Lanes::broadcast(point[j]);
        return scan([&](std::size_t j) { return lanes_of[j]; });
    }
    return scan([&](std::size_t j) { return Lanes::broadcast(point[j]); });
}

// members_above over D columns fixed at compile time, the point's lanes and the columns'
// offsets held in registers and every column compared before the one check: up to nine columns
// the checks between them cost more than they save (at 2,000 points 0.7-0.85 of the time of
// the loop below, which keeps them for more columns: 1.05-1.25 times as long with 14).
template <class Lanes, std::size_t D, class S>
[[gnu::always_inline]] inline bool fixed_blocks_hold_dominator(const S* blocks, std::size_t block_count, const S* point,
                                                               const std::uint32_t* columns) {
    constexpr std::size_t lanes = Lanes::lanes;
    typename Lanes::V point_lanes[D];
    std::size_t offset[D];
    for (std::size_t j = 0; j < D; ++j) {
        point_lanes[j] = Lanes::broadcast(point[j]);
        offset[j] = columns[j] * lanes;
    }
    for (std::size_t b = 0; b < block_count; ++b, blocks += D * lanes) {
        typename Lanes::V failed = Lanes::greater(Lanes::load(blocks + offset[0]), point_lanes[0]);
        for (std::size_t j = 1; j < D; ++j)
            failed = Lanes::either(failed, Lanes::greater(Lanes::load(blocks + offset[j]), point_lanes[j]));
        if (!Lanes::all(failed)) return true;
    }
    return false;
}

// Aligned to a cache line: where the linker happened to place it moved small front-list sorts
// by up to 10 % between builds with identical code (Intel, 2026-12-10).
template <class Isa, class S>
[[gnu::aligned(64)]] bool blocks_hold_dominator(const S* blocks, std::size_t block_count, const S* point,
                                                const std::uint32_t* columns, std::size_t dims) {
    using Lanes = typename Isa::template Integers<S>;
    constexpr std::size_t lanes = Lanes::lanes;
    switch (dims) {
        case 3: return fixed_blocks_hold_dominator<Lanes, 3>(blocks, block_count, point, columns);
        case 4: return fixed_blocks_hold_dominator<Lanes, 4>(blocks, block_count, point, columns);
        case 5: return fixed_blocks_hold_dominator<Lanes, 5>(blocks, block_count, point, columns);
        case 6: return fixed_blocks_hold_dominator<Lanes, 6>(blocks, block_count, point, columns);
        case 7: return fixed_blocks_hold_dominator<Lanes, 7>(blocks, block_count, point, columns);
        case 8: return fixed_blocks_hold_dominator<Lanes, 8>(blocks, block_count, point, columns);
        case 9: return fixed_blocks_hold_dominator<Lanes, 9>(blocks, block_count, point, columns);
        default: break;
    }
    return with_point_lanes<Lanes>(point, dims, [&](auto point_lanes) {
        for (std::size_t b = 0; b < block_count; ++b, blocks += dims * lanes)
            if (!Lanes::all(members_above<Lanes>(blocks, point_lanes, columns, dims))) return true;
        return false;
    });
}

// Kept apart from blocks_hold_dominator, whose loop over whole blocks of small fronts took up
// to 1.05 times as long with this tail beside it.
template <class Isa, class S>
bool first_members_hold_dominator(const S* blocks, std::size_t members, const S* point, const std::uint32_t* columns,
                                  std::size_t dims) {
    using Lanes = typename Isa::template Integers<S>;
    constexpr std::size_t lanes = Lanes::lanes;
    const std::size_t whole = members / lanes, rest = members % lanes;
    if (whole > 0 && blocks_hold_dominator<Isa>(blocks, whole, point, columns, dims)) return true;
    if (rest == 0) return false;
    // Only the first `rest` lanes of the last block are asked about.
    const std::uint64_t asked = (std::uint64_t{1} << rest) - 1;
    const S* last = blocks + whole * dims * lanes;
    return with_point_lanes<Lanes>(point, dims, [&](auto point_lanes) {
        return (~Lanes::bits(members_above<Lanes>(last, point_lanes, columns, dims)) & asked) != 0;
    });
}

// Descends from the root into the nodes that can hold a placed point <= the point
// with a rank above the best found so far, the child with the higher rank first; a node whose
// placed points all lie <= the point gives its rank without a descent.
template <class Isa, class S>
std::int32_t tree_rank_below(const RankTreeView<S>& tree, const S* coords, const S* ordered,
                             const std::uint32_t* columns, std::int32_t known) {
    using Lanes = typename Isa::template Integers<S>;
    using Box = typename Isa::template Integers16<S>;
    static_assert(Box::lanes * sizeof(S) == kTreeBoxBytes);
    constexpr std::size_t lanes = Lanes::lanes, box_lanes = Box::lanes;
    const std::size_t dims = tree.dims, chunks = tree.width / box_lanes;
    typename Box::V point[kTreeMaxDims];
    for (std::size_t c = 0; c < chunks; ++c) point[c] = Box::load(coords + c * box_lanes);
    typename Lanes::V point_lanes[kTreeMaxDims];
    for (std::size_t j = 0; j < dims; ++j) point_lanes[j] = Lanes::broadcast(ordered[j]);
    const std::size_t block_size = dims * lanes;
    std::int32_t best = known;
    std::uint32_t stack[128];
    std::size_t depth = 0;
    stack[depth++] = 0;
    while (depth > 0) {
        const std::uint32_t node = stack[--depth];
        if (tree.top[node] <= best) continue;
        const S* box = tree.boxes + std::size_t{node} * 2 * tree.width;
        typename Box::V low_above = Box::greater(Box::load(box), point[0]);
        typename Box::V high_above = Box::greater(Box::load(box + tree.width), point[0]);
        for (std::size_t c = 1; c < chunks; ++c) {
            low_above = Box::either(low_above, Box::greater(Box::load(box + c * box_lanes), point[c]));
            high_above = Box::either(high_above, Box::greater(Box::load(box + tree.width + c * box_lanes), point[c]));
        }
        if (Box::any(low_above)) continue;  // every placed point of the node is above in a column
        if (!Box::any(high_above)) {        // every placed point of the node is <= the point
            best = tree.top[node];
            continue;
        }
        const std::uint32_t leaf = tree.leaf_of_node[node];
        if (leaf != RankTreeView<S>::kInnerNode) {
            for (std::size_t b = 0; b < tree.leaf_blocks; ++b) {
                const std::size_t block = std::size_t{leaf} * tree.leaf_blocks + b;
                const typename Lanes::V failed = members_above<Lanes>(
                    tree.leaf_values + block * block_size, [&](std::size_t j) { return point_lanes[j]; }, columns, dims);
                if (Lanes::all(failed)) continue;
                const std::int32_t* ranks = tree.leaf_ranks + block * lanes;
                for (std::uint64_t below = ~Lanes::bits(failed) & (~std::uint64_t{0} >> (64 - lanes)); below != 0;
                     below &= below - 1) {
                    const std::int32_t rank = ranks[std::countr_zero(below)];
                    if (rank > best) best = rank;
                }
            }
            continue;
        }
        // The child with the higher rank goes on the stack last, so it is searched first.
        std::uint32_t first = 2 * node + 1, second = 2 * node + 2;
        if (tree.top[first] > tree.top[second]) std::swap(first, second);
        stack[depth++] = first;
        stack[depth++] = second;
    }
    return best;
}

}  // namespace rc::algorithm::nds
