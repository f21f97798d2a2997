// The front-search scan with 32-byte vectors: 16 members per comparison at 16-bit coordinates.
#include "algorithm/nds_front_scan.hpp"
#include "algorithm/nds_front_scan_lanes.hpp"

namespace rc::algorithm::nds {
namespace {

typedef std::int16_t Int16x16 __attribute__((vector_size(32)));
typedef std::int32_t Int32x8 __attribute__((vector_size(32)));

}  // namespace

const ScanKernels kAvx2Scan{
    16, blocks_hold_dominator<std::int16_t, Int16x16>, best_rank_below<std::int16_t, Int16x16>,
    8,  blocks_hold_dominator<std::int32_t, Int32x8>,  best_rank_below<std::int32_t, Int32x8>,
};

}  // namespace rc::algorithm::nds
