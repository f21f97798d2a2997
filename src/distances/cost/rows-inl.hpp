// Rows of squared Euclidean costs against interleaved features, over an ops struct: the loops
// run over the cells, one lane per cell, and every cell sums its features in increasing order
// from 0.0, as one cell at a time would. Included only by the target files, inside the target's
// namespace and after cost/kernels.hpp (no include guard, no includes).

namespace cost_rows {

template <class Ops>
void from_features(const rc::distances::cost::FeatureRow& r) {
    constexpr std::size_t W = Ops::lanes;
    const std::size_t vector_end = r.cells / W * W;
    for (std::size_t c = 0; c < r.cells; ++c) r.out[c] = 0.0;
    for (std::size_t f = 0; f < r.d; ++f) {
        double xf;
        __builtin_memcpy(&xf, r.x + static_cast<std::ptrdiff_t>(f) * r.x_step, sizeof xf);
        const double* column = r.features + f * r.feature_stride;
        const auto xv = Ops::broadcast(xf);
        std::size_t c = 0;
        for (; c < vector_end; c += W) {
            const auto diff = Ops::sub(xv, Ops::loadu(column + c));
            Ops::storeu(r.out + c, Ops::add(Ops::loadu(r.out + c), Ops::mul(diff, diff)));
        }
        for (; c < r.cells; ++c) {
            const double diff = xf - column[c];
            r.out[c] += diff * diff;
        }
    }
}

}  // namespace cost_rows
