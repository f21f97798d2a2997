// The front-search scan of front_scan.hpp written once over GCC/Clang generic vectors.
// Included only by the target files, inside the target's namespace and after
// algorithm/nds/front_scan.hpp and <cstring> (no include guard, no includes); each target picks
// its vector width in bytes.

namespace nds_front_scan {

using rc::algorithm::nds::ScanKernels;

template <class Vector, class S>
[[gnu::always_inline]] inline Vector load_lanes(const S* at) noexcept {
    Vector v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

// Whether every lane of a comparison result is set.
template <class Mask>
[[gnu::always_inline]] inline bool all_lanes(Mask mask) noexcept {
    std::uint64_t words[sizeof(Mask) / 8];
    std::memcpy(words, &mask, sizeof mask);
    std::uint64_t all = ~std::uint64_t{0};
    for (std::uint64_t w : words) all &= w;
    return all == ~std::uint64_t{0};
}

// Coordinates are signed (shifted down by half their range by the caller) because x86 has a
// one-instruction signed greater-than and no unsigned one.
template <class S, class Vector, class PointLanes>
[[gnu::always_inline]] inline bool scan_blocks(const S* blocks, std::size_t block_count, PointLanes point,
                                               const std::uint32_t* columns, std::size_t dims) {
    constexpr std::size_t lanes = sizeof(Vector) / sizeof(S);
    for (std::size_t b = 0; b < block_count; ++b, blocks += dims * lanes) {
        auto above = [&](std::size_t j) { return load_lanes<Vector>(blocks + columns[j] * lanes) > point(j); };
        // A lane fails once its member is above the point in one column. Columns go three at
        // a time between the checks: most members fail in the first few, and a branch per
        // column would cost more than the comparisons it saves.
        auto failed = above(0);
        for (std::size_t j = 1;; j += 3) {
            if (all_lanes(failed)) break;
            if (j >= dims) return true;
            failed |= above(j);
            if (j + 1 < dims) failed |= above(j + 1);
            if (j + 2 < dims) failed |= above(j + 2);
        }
    }
    return false;
}

// The point's coordinates are broadcast into lanes here, once per call, by this target's own
// instructions: the caller keeps only the scalars, with no lane copies to write per point
// (measured a little faster at 200 to 500 points, the same beyond).
template <class S, class Vector>
bool blocks_hold_dominator(const S* blocks, std::size_t block_count, const S* point, const std::uint32_t* columns,
                           std::size_t dims) {
    constexpr std::size_t kBroadcastUpTo = 64;
    if (dims <= kBroadcastUpTo) {
        Vector broadcast[kBroadcastUpTo];
        for (std::size_t j = 0; j < dims; ++j) broadcast[j] = Vector{} + point[j];
        return scan_blocks<S, Vector>(blocks, block_count, [&](std::size_t j) { return broadcast[j]; }, columns, dims);
    }
    return scan_blocks<S, Vector>(blocks, block_count, [&](std::size_t j) { return Vector{} + point[j]; }, columns,
                                  dims);
}

template <class S, class Vector>
std::int32_t best_rank_below(const S* block, const std::int32_t* ranks, const S* point, const std::uint32_t* columns,
                             std::size_t dims, std::int32_t best) {
    constexpr std::size_t lanes = sizeof(Vector) / sizeof(S);
    auto above = [&](std::size_t j) {
        return load_lanes<Vector>(block + columns[j] * lanes) > load_lanes<Vector>(point + j * lanes);
    };
    auto failed = above(0);
    for (std::size_t j = 1; j < dims; j += 3) {
        if (all_lanes(failed)) return best;
        failed |= above(j);
        if (j + 1 < dims) failed |= above(j + 1);
        if (j + 2 < dims) failed |= above(j + 2);
    }
    S lane_failed[lanes];
    std::memcpy(lane_failed, &failed, sizeof failed);
    for (std::size_t i = 0; i < lanes; ++i)
        if (lane_failed[i] == 0 && ranks[i] > best) best = ranks[i];
    return best;
}

// Both coordinate widths at one vector size: 16-bit coordinates get twice the lanes.
template <std::size_t Bytes>
struct Width {
    typedef std::int16_t Int16s __attribute__((vector_size(Bytes)));
    typedef std::int32_t Int32s __attribute__((vector_size(Bytes)));
    static constexpr ScanKernels kKernels{
        Bytes / 2, blocks_hold_dominator<std::int16_t, Int16s>, best_rank_below<std::int16_t, Int16s>,
        Bytes / 4, blocks_hold_dominator<std::int32_t, Int32s>, best_rank_below<std::int32_t, Int32s>,
    };
};

}  // namespace nds_front_scan
