// The vector kernels of the front search: the plain data they read and their kernel table
// (nds/table.hpp defines it per target, nds/search_lanes.hpp holds the kernels).
//
// Coordinates are dense ranks shifted down by half the range of S (signed, because x86 has a
// one-instruction signed greater-than and no unsigned one); the type's largest value is kept
// for padding. Members come in blocks of the kernel's `lanes`: block b holds column j of its
// members at blocks[(b * dims + j) * lanes ...], unused lanes padded with the largest value.
// Each lane makes the same comparisons for its member, so every width gives the same answer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rc::algorithm::nds {

// Does any member of the blocks lie <= the point in every column? `point[j]` holds the point's
// coordinate in column columns[j], the columns going from its smallest coordinate to its
// largest (the order in which members fail soonest).
template <class S>
using DominatorScan = bool (*)(const S* blocks, std::size_t block_count, const S* point, const std::uint32_t* columns,
                               std::size_t dims);

// The same question for the first `members` members of the blocks only.
template <class S>
using PrefixScan = bool (*)(const S* blocks, std::size_t members, const S* point, const std::uint32_t* columns,
                            std::size_t dims);

// A k-d tree over the points of a search (indexes.hpp), as the tree kernel reads it. Nodes are
// numbered as a binary heap (children 2k + 1 and 2k + 2). Node k's box is boxes[k * 2 * width
// ...]: the lowest coordinate of its placed points in each column, then the highest, each
// padded from `dims` to `width` columns with the smallest value. Boxes are compared with the
// point kTreeBoxBytes at a time (few columns: wider vectors would only cost more to test), so
// `width` is a multiple of kTreeBoxBytes / sizeof(S).
// top[k] is the highest rank placed below node k, -1 while none is. A leaf holds
// `leaf_blocks` blocks of members and their ranks (-1 until placed, and for padding).
template <class S>
struct RankTreeView {
    const S* boxes;
    const std::int32_t* top;
    const std::uint32_t* leaf_of_node;  // kInnerNode for inner nodes
    const S* leaf_values;
    const std::int32_t* leaf_ranks;
    std::size_t dims, width, leaf_blocks;
    static constexpr std::uint32_t kInnerNode = UINT32_MAX;
};

// The highest rank of a placed point of the tree <= the point in every column where it
// exceeds `known`, else `known` (-1 finds any). `coords` is the point by column, padded to the
// tree's width with the largest value (which no padded bound of a box lies above or below);
// `ordered` and `columns` as for DominatorScan.
template <class S>
using TreeSearch = std::int32_t (*)(const RankTreeView<S>& tree, const S* coords, const S* ordered,
                                    const std::uint32_t* columns, std::int32_t known);

inline constexpr std::size_t kTreeBoxBytes = 16;

// The tree handles up to this many columns (objectives after the first); more take the front
// lists.
inline constexpr std::size_t kTreeMaxDims = 64;

struct Kernels {
    std::size_t lanes_16;
    DominatorScan<std::int16_t> scan_16;
    PrefixScan<std::int16_t> prefix_16;
    TreeSearch<std::int16_t> tree_16;
    std::size_t lanes_32;
    DominatorScan<std::int32_t> scan_32;
    PrefixScan<std::int32_t> prefix_32;
    TreeSearch<std::int32_t> tree_32;
};

template <class Isa>
Kernels make_table();

// The table of the process's target, chosen at first use (kernels.cpp).
const Kernels& scan_kernels() noexcept;

}  // namespace rc::algorithm::nds
