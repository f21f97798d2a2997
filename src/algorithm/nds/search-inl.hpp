// The vector kernels of kernels.hpp, written once over a few lane operations on GCC/Clang
// generic vectors of signed 16- or 32-bit integers. Included only by the target files, inside
// the target's namespace and after algorithm/nds/kernels.hpp, <bit>, <cstring> and <utility>
// (no include guard, no includes); each target picks its vector width in bytes.

namespace nds_search {

using rc::algorithm::nds::RankTreeView;
using rc::algorithm::nds::ScanKernels;
using rc::algorithm::nds::kTreeBoxBytes;
using rc::algorithm::nds::kTreeMaxDims;

// The lane operations the kernels use, and nothing else touches a vector.
template <class Vector, class S>
[[gnu::always_inline]] inline Vector load_lanes(const S* at) noexcept {
    Vector v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

template <class Vector, class S>
[[gnu::always_inline]] inline Vector broadcast(S value) noexcept {
    return Vector{} + value;
}

// Lane-wise signed a > b: every bit of a lane set where it holds, none where not.
template <class Vector>
[[gnu::always_inline]] inline Vector greater(Vector a, Vector b) noexcept {
    return a > b;
}

template <class Vector>
[[gnu::always_inline]] inline Vector either(Vector a, Vector b) noexcept {
    return a | b;
}

template <class Vector>
[[gnu::always_inline]] inline bool all_lanes(Vector mask) noexcept {
    std::uint64_t words[sizeof(Vector) / 8];
    std::memcpy(words, &mask, sizeof mask);
    std::uint64_t all = ~std::uint64_t{0};
    for (std::uint64_t w : words) all &= w;
    return all == ~std::uint64_t{0};
}

template <class Vector>
[[gnu::always_inline]] inline bool any_lane(Vector mask) noexcept {
    std::uint64_t words[sizeof(Vector) / 8];
    std::memcpy(words, &mask, sizeof mask);
    std::uint64_t any = 0;
    for (std::uint64_t w : words) any |= w;
    return any != 0;
}

// Bit i set where lane i of a mask is set.
template <class S, class Vector>
[[gnu::always_inline]] inline std::uint64_t lane_bits(Vector mask) noexcept {
    constexpr std::size_t lanes = sizeof(Vector) / sizeof(S);
    S values[lanes];
    std::memcpy(values, &mask, sizeof mask);
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < lanes; ++i) bits |= std::uint64_t{values[i] != 0} << i;
    return bits;
}

// The lanes of a block whose member is above the point in some column, given the point in the
// block's order of columns: `point(j)` is coordinate columns[j] broadcast. Columns go three at
// a time between the checks (most members fail in the first few, and a branch per column
// would cost more than the comparisons it saves); returns early, with every lane set, once
// every member has failed.
template <class S, class Vector, class PointLanes>
[[gnu::always_inline]] inline Vector members_above(const S* block, PointLanes point, const std::uint32_t* columns,
                                                   std::size_t dims) {
    constexpr std::size_t lanes = sizeof(Vector) / sizeof(S);
    auto above = [&](std::size_t j) { return greater(load_lanes<Vector>(block + columns[j] * lanes), point(j)); };
    Vector failed = above(0);
    for (std::size_t j = 1; j < dims; j += 3) {
        if (all_lanes(failed)) break;
        failed = either(failed, above(j));
        if (j + 1 < dims) failed = either(failed, above(j + 1));
        if (j + 2 < dims) failed = either(failed, above(j + 2));
    }
    return failed;
}

// The point's coordinates are broadcast into lanes here, once per call, by this target's own
// instructions (up to kTreeMaxDims columns; beyond, per comparison).
template <class S, class Vector>
bool blocks_hold_dominator(const S* blocks, std::size_t block_count, const S* point, const std::uint32_t* columns,
                           std::size_t dims) {
    constexpr std::size_t lanes = sizeof(Vector) / sizeof(S);
    auto scan = [&](auto point_lanes) {
        for (std::size_t b = 0; b < block_count; ++b, blocks += dims * lanes)
            if (!all_lanes(members_above<S, Vector>(blocks, point_lanes, columns, dims))) return true;
        return false;
    };
    if (dims <= kTreeMaxDims) {
        Vector lanes_of[kTreeMaxDims];
        for (std::size_t j = 0; j < dims; ++j) lanes_of[j] = broadcast<Vector>(point[j]);
        return scan([&](std::size_t j) { return lanes_of[j]; });
    }
    return scan([&](std::size_t j) { return broadcast<Vector>(point[j]); });
}

// Descends from the root into the nodes that can hold a placed point <= the point with a rank
// above the best found so far, the child with the higher rank first; a node whose placed
// points all lie <= the point gives its rank without a descent.
template <class S, class Vector, class Box>
std::int32_t tree_rank_below(const RankTreeView<S>& tree, const S* coords, const S* ordered,
                             const std::uint32_t* columns) {
    constexpr std::size_t lanes = sizeof(Vector) / sizeof(S), box_lanes = sizeof(Box) / sizeof(S);
    const std::size_t dims = tree.dims, chunks = tree.width / box_lanes;
    Box point[kTreeMaxDims];
    for (std::size_t c = 0; c < chunks; ++c) point[c] = load_lanes<Box>(coords + c * box_lanes);
    Vector point_lanes[kTreeMaxDims];
    for (std::size_t j = 0; j < dims; ++j) point_lanes[j] = broadcast<Vector>(ordered[j]);
    const std::size_t block_size = dims * lanes;
    std::int32_t best = -1;
    std::uint32_t stack[128];
    std::size_t depth = 0;
    stack[depth++] = 0;
    while (depth > 0) {
        const std::uint32_t node = stack[--depth];
        if (tree.top[node] <= best) continue;
        const S* box = tree.boxes + std::size_t{node} * 2 * tree.width;
        Box low_above = greater(load_lanes<Box>(box), point[0]);
        Box high_above = greater(load_lanes<Box>(box + tree.width), point[0]);
        for (std::size_t c = 1; c < chunks; ++c) {
            low_above = either(low_above, greater(load_lanes<Box>(box + c * box_lanes), point[c]));
            high_above = either(high_above, greater(load_lanes<Box>(box + tree.width + c * box_lanes), point[c]));
        }
        if (any_lane(low_above)) continue;  // every placed point of the node is above in a column
        if (!any_lane(high_above)) {        // every placed point of the node is <= the point
            best = tree.top[node];
            continue;
        }
        const std::uint32_t leaf = tree.leaf_of_node[node];
        if (leaf != RankTreeView<S>::kInnerNode) {
            for (std::size_t b = 0; b < tree.leaf_blocks; ++b) {
                const std::size_t block = std::size_t{leaf} * tree.leaf_blocks + b;
                const Vector failed = members_above<S, Vector>(tree.leaf_values + block * block_size,
                                                               [&](std::size_t j) { return point_lanes[j]; }, columns,
                                                               dims);
                if (all_lanes(failed)) continue;
                const std::int32_t* ranks = tree.leaf_ranks + block * lanes;
                for (std::uint64_t below = ~lane_bits<S>(failed) & (~std::uint64_t{0} >> (64 - lanes)); below != 0;
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

// Both coordinate widths at one vector size for the members (16-bit coordinates get twice the
// lanes), and node boxes a 16-byte vector at a time.
template <std::size_t Bytes>
struct Width {
    typedef std::int16_t Int16s __attribute__((vector_size(Bytes)));
    typedef std::int32_t Int32s __attribute__((vector_size(Bytes)));
    typedef std::int16_t Box16s __attribute__((vector_size(kTreeBoxBytes)));
    typedef std::int32_t Box32s __attribute__((vector_size(kTreeBoxBytes)));
    static constexpr ScanKernels kKernels{
        Bytes / 2, blocks_hold_dominator<std::int16_t, Int16s>, tree_rank_below<std::int16_t, Int16s, Box16s>,
        Bytes / 4, blocks_hold_dominator<std::int32_t, Int32s>, tree_rank_below<std::int32_t, Int32s, Box32s>,
    };
};

}  // namespace nds_search
