// The module's functions, in registration order. Adding a function is one line here: the
// plain C++ function to call and its Python parameter names.
#include "binding/function_table.hpp"

#include "binding/binding.hpp"
#include "algorithm/das_dennis.hpp"
#include "algorithm/nds.hpp"
#include "algorithm/niching/niching.hpp"
#include "algorithm/normalization.hpp"
#include "distances/cost/cost.hpp"
#include "distances/dtw/dtw.hpp"
#include "distances/global_alignment/gak.hpp"
#include "distances/manhattan/manhattan.hpp"
#include "distances/soft_dtw/soft_dtw.hpp"

namespace rc {
namespace {

PyObject* rust_available(PyObject*, PyObject*) noexcept { Py_RETURN_TRUE; }

}  // namespace

std::span<PyMethodDef> function_table() {
    static PyMethodDef table[] = {
        {"rust_available", rust_available, METH_NOARGS, "rust_available()\n--\n\n"},
        define<&distances::squared_euclidean_cost_matrix, "squared_euclidean_cost_matrix", "x", "y">(),
        define<&distances::dtw_pair, "dtw", "x", "y", "sakoe_chiba_radius">(),
        define<&distances::dtw_with_path, "dtw_with_path_py", "x", "y", "sakoe_chiba_radius">(),
        define<&distances::cdist_dtw, "cdist_dtw", "x", "y", "sakoe_chiba_radius">(),
        define<&distances::soft_dtw_pair, "soft_dtw", "x", "y", "gamma">(),
        define<&distances::cdist_soft_dtw, "cdist_soft_dtw", "x", "y", "gamma">(),
        define<&distances::gak, "gak", "x", "y", "sigma">(),
        define<&distances::unnormalized_gak, "unnormalized_gak_py", "x", "y", "sigma">(),
        define<&distances::cdist_gak, "cdist_gak", "x", "y", "sigma">(),
        define<&distances::manhattan_pair, "manhattan", "x", "y">(),
        define<&distances::cdist_manhattan, "cdist_manhattan", "x", "y">(),
        define<&algorithm::das_dennis, "das_dennis_py", "n_dim", "n_partitions">(),
        define<&algorithm::non_dominated_fronts, "fast_non_dominated_sort_py", "f">(),
        define<&algorithm::associate_to_niches, "associate_to_niches_py", "f", "ref_dirs", "ideal", "nadir">(),
        define<&algorithm::normalization_update, "normalization_update_py", "ideal_point", "f", "first_front",
                "n_dim">(),
    };
    return table;
}

}  // namespace rc
