// Rows of squared Euclidean costs against interleaved features, over an ops struct: one lane
// per cell, a block of cells kept in registers over all features, and every cell summing its
// features in increasing order from 0.0, as one cell at a time would. Included only by the
// target files, inside the target's namespace and after cost/kernels.hpp (no include guard, no
// includes).

namespace cost_rows {

template <class Ops, std::size_t Vectors>
[[gnu::always_inline]] inline void block(const rc::distances::cost::FeatureRow& r, std::size_t c) {
    constexpr std::size_t W = Ops::lanes;
    typename Ops::V sum[Vectors];
    for (std::size_t v = 0; v < Vectors; ++v) sum[v] = Ops::broadcast(0.0);
    for (std::size_t f = 0; f < r.d; ++f) {
        double xf;
        __builtin_memcpy(&xf, r.x + static_cast<std::ptrdiff_t>(f) * r.x_step, sizeof xf);
        const auto xv = Ops::broadcast(xf);
        const double* column = r.features + f * r.feature_stride + c;
        for (std::size_t v = 0; v < Vectors; ++v) {
            const auto diff = Ops::sub(xv, Ops::loadu(column + v * W));
            sum[v] = Ops::add(sum[v], Ops::mul(diff, diff));
        }
    }
    for (std::size_t v = 0; v < Vectors; ++v) Ops::storeu(r.out + c + v * W, sum[v]);
}

template <class Ops>
void from_features(const rc::distances::cost::FeatureRow& r) {
    constexpr std::size_t W = Ops::lanes, Block = 4 * W;
    std::size_t c = 0;
    for (; c + Block <= r.cells; c += Block) block<Ops, 4>(r, c);
    for (; c + W <= r.cells; c += W) block<Ops, 1>(r, c);
    if constexpr (W > 1)
        for (; c < r.cells; ++c) block<Scalar, 1>(r, c);
}

}  // namespace cost_rows
