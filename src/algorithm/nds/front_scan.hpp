// The innermost loop of the front search, one version per vector width: does any member of a
// front lie <= a point in every column? Its row in the kernel table; the scan itself is
// compiled once per instruction set (nds_front_scan-inl.hpp), so this header holds only types.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rc::algorithm::nds {

// Members come in blocks of `lanes` (the kernel's width): block b holds column j of its
// members at blocks[(b * dims + j) * lanes ...], unused lanes padded with the type's largest
// value. `point[j]` holds the point's coordinate in column columns[j]; the columns go from the
// point's smallest coordinate to its largest. Each lane makes the same comparisons for its
// member, so every width gives the same answer.
template <class S>
using DominatorScan = bool (*)(const S* blocks, std::size_t block_count, const S* point, const std::uint32_t* columns,
                               std::size_t dims);

// One block of the same layout whose lanes carry ranks (-1 for a member not yet ranked, and
// for padding): the largest rank of a member <= the point in every column, or `best` if that
// is larger. Here `point[j * lanes ...]` holds the coordinate in column columns[j] already in
// every lane: a point is tested against many blocks, one call each.
template <class S>
using BestBelow = std::int32_t (*)(const S* block, const std::int32_t* ranks, const S* point,
                                   const std::uint32_t* columns, std::size_t dims, std::int32_t best);

struct ScanKernels {
    std::size_t lanes_16;
    DominatorScan<std::int16_t> scan_16;
    BestBelow<std::int16_t> best_16;
    std::size_t lanes_32;
    DominatorScan<std::int32_t> scan_32;
    BestBelow<std::int32_t> best_32;
};

}  // namespace rc::algorithm::nds
