// One target's kernel table, from the shared kernel templates instantiated with the target's ops.
// Included once by each target file, inside the target's namespace and after the kernels'
// *-inl.hpp, where the target names:
//   Wide           its widest ops, for kernels bound by arithmetic;
//   CallBound      the ops for kernels bound by C library calls, where wider vectors gain nothing
//                  (at most 4 lanes: the widths below are multiples of it);
//   ExpBound       the ops for soft-DTW's 16 and 8 lanes and GAK's 8: with the lane exp their
//                  arithmetic is what remains, so the widest that divides 8;
//   kTarget        its name;
//   kDtwRows       rows of x per DTW lane strip, 0 to run DTW pairs one at a time;
//   kSoftDtwTwoRows  whether cdist_soft_dtw's groups sweep two rows at a time;
//   kSoftDtwLanes  the widest soft-DTW group and strip it runs;
//   manhattan_sum  its Manhattan lane kernel, or nullptr;
//   kNdsScanBytes  the vector size of the front-search scan.
// (no include guard, no includes)

template <std::size_t Vectors>
constexpr rc::distances::dtw::LaneKernel dtw_lanes() {
    if constexpr (kDtwRows == 0)
        return nullptr;
    else
        return dtw_strip::accumulate_any<Wide, Vectors, kDtwRows>;
}

template <class Ops, std::size_t Pairs>
constexpr rc::distances::soft_dtw::TwoRowKernel soft_two_rows() {
    if constexpr (kSoftDtwTwoRows && Pairs <= kSoftDtwLanes)
        return soft_dtw_cells::soft_two_rows<Ops, Pairs>;
    else
        return nullptr;
}

template <class Ops, std::size_t L>
constexpr rc::distances::soft_dtw::RowKernel soft_row() {
    if constexpr (L <= kSoftDtwLanes)
        return soft_dtw_cells::soft_row<Ops, L>;
    else
        return nullptr;
}

template <class Ops, std::size_t L>
constexpr rc::distances::soft_dtw::StripKernel soft_strip() {
    if constexpr (L <= kSoftDtwLanes)
        return soft_dtw_cells::soft_strip<Ops, L>;
    else
        return nullptr;
}

extern const rc::simd::Kernels kKernels;
constinit const rc::simd::Kernels kKernels{
    .target = kTarget,
    .cost = {cost_rows::from_features<Wide>},
    .dtw = {rc::simd::baseline::dtw_one_pair, dtw_path::forward_pass_any<Wide>,
            kDtwRows == 0 ? 0 : Wide::lanes, dtw_lanes<1>(), dtw_lanes<2>()},
    // By the widths of soft_dtw::kWidths: 32, 16, 8, 4, 3, 2, 1.
    .soft_dtw = {{soft_row<ExpBound, 32>(), soft_row<ExpBound, 16>(), soft_row<ExpBound, 8>(), soft_row<CallBound, 4>(),
                  soft_row<Scalar, 3>(), soft_row<Scalar, 2>(), soft_row<Scalar, 1>()},
                 {soft_two_rows<ExpBound, 32>(), soft_two_rows<ExpBound, 16>(), soft_two_rows<ExpBound, 8>(),
                  soft_two_rows<CallBound, 4>(), nullptr, nullptr, nullptr},
                 {soft_strip<ExpBound, 32>(), soft_strip<ExpBound, 16>(), soft_strip<ExpBound, 8>(),
                  soft_strip<CallBound, 4>(), soft_strip<Scalar, 3>(), soft_strip<Scalar, 2>(), soft_strip<Scalar, 1>()}},
    // By the widths of global_alignment::kWidths: 8, 4, 1.
    .gak = {{gak_strips::strip<ExpBound, 8, false>, gak_strips::strip<Scalar, 4, false>,
             gak_strips::strip<Scalar, 1, false>},
            {gak_strips::strip<ExpBound, 8, true>, gak_strips::strip<Scalar, 4, true>,
             gak_strips::strip<Scalar, 1, true>},
            {gak_feature_strips::strip<ExpBound, 8, false>, gak_feature_strips::strip<Scalar, 4, false>,
             gak_feature_strips::strip<Scalar, 1, false>},
            {gak_feature_strips::strip<ExpBound, 8, true>, gak_feature_strips::strip<Scalar, 4, true>,
             gak_feature_strips::strip<Scalar, 1, true>}},
    .manhattan = {manhattan_sum},
    .niching = {niching_search::nearest_in_lanes<Wide>},
    .nds_scan = nds_search::Width<kNdsScanBytes>::kKernels,
    .exp = exp_arrays_of<ExpBound>(kTarget),
    .log_bracket = log_bracket_array_of<ExpBound>(),
};
