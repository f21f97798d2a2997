"""Representative calls of every module function: valid ones and one of each failure class.
Shared by the leak, fuzz, frame and threading tests; SIGNATURES is the one list of the functions."""

import numpy as np

rng = np.random.default_rng(20261208)
SERIES_X = rng.normal(size=(9, 2))
SERIES_Y = rng.normal(size=(7, 2))
SET_X = rng.normal(size=(5, 9, 2))
SET_Y = rng.normal(size=(4, 9, 2))
OBJECTIVES = rng.random(size=(40, 3))
REF_DIRS = np.array([[0.0, 0.0, 1.0], [0.0, 0.5, 0.5], [0.0, 1.0, 0.0], [0.5, 0.0, 0.5], [0.5, 0.5, 0.0], [1.0, 0.0, 0.0]])
IDEAL = np.zeros(3)
NADIR = np.ones(3)
FRONT = np.arange(10, dtype=np.int64)
HUGE_SET = np.broadcast_to(np.ones((1, 1, 1)), (10**6, 1, 1))
HUGE_SERIES = np.broadcast_to(np.ones((1, 1)), (10**6, 1))

# Every module function with its Python parameter names, in registration order.
SIGNATURES = {
    "rust_available": (),
    "squared_euclidean_cost_matrix": ("x", "y"),
    "dtw": ("x", "y", "sakoe_chiba_radius"),
    "dtw_with_path_py": ("x", "y", "sakoe_chiba_radius"),
    "cdist_dtw": ("x", "y", "sakoe_chiba_radius"),
    "soft_dtw": ("x", "y", "gamma"),
    "cdist_soft_dtw": ("x", "y", "gamma"),
    "gak": ("x", "y", "sigma"),
    "unnormalized_gak_py": ("x", "y", "sigma"),
    "cdist_gak": ("x", "y", "sigma"),
    "manhattan": ("x", "y"),
    "cdist_manhattan": ("x", "y"),
    "das_dennis_py": ("n_dim", "n_partitions"),
    "fast_non_dominated_sort_py": ("f",),
    "associate_to_niches_py": ("f", "ref_dirs", "ideal", "nadir"),
    "normalization_update_py": ("ideal_point", "f", "first_front", "n_dim"),
}

VALID = {
    "rust_available": (),
    "squared_euclidean_cost_matrix": (SERIES_X, SERIES_Y),
    "dtw": (SERIES_X, SERIES_Y, 2),
    "dtw_with_path_py": (SERIES_X, SERIES_Y, None),
    "cdist_dtw": (SET_X, SET_Y, None),
    "soft_dtw": (SERIES_X, SERIES_Y, 0.5),
    "cdist_soft_dtw": (SET_X, SET_Y, 0.5),
    "gak": (SERIES_X, SERIES_Y, 1.0),
    "unnormalized_gak_py": (SERIES_X, SERIES_Y, 1.0),
    "cdist_gak": (SET_X, SET_Y, 1.0),
    "manhattan": (SERIES_X, SERIES_X),
    "cdist_manhattan": (SET_X, SET_Y),
    "das_dennis_py": (3, 4),
    "fast_non_dominated_sort_py": (OBJECTIVES,),
    "associate_to_niches_py": (OBJECTIVES, REF_DIRS, IDEAL, NADIR),
    "normalization_update_py": (IDEAL, OBJECTIVES, FRONT, 3),
}

NARROW_SERIES = np.ones((3, 1))
NARROW_SET = np.ones((2, 9, 1))

# Calls that fail inside the kernel (PanicException), or cannot get their memory.
INTERNAL_FAILURES = {
    "squared_euclidean_cost_matrix": (SERIES_X, NARROW_SERIES),
    "dtw": (SERIES_X, NARROW_SERIES, None),
    "dtw_with_path_py": (SERIES_X, NARROW_SERIES, 1),
    "cdist_dtw": (SET_X, NARROW_SET, None),
    "soft_dtw": (SERIES_X, NARROW_SERIES, 1.0),
    "cdist_soft_dtw": (SET_X, NARROW_SET, 1.0),
    "gak": (SERIES_X, NARROW_SERIES, 1.0),
    "unnormalized_gak_py": (SERIES_X, NARROW_SERIES, 1.0),
    "cdist_gak": (SET_X, NARROW_SET, 1.0),
    "manhattan": (SERIES_X, NARROW_SERIES),
    "cdist_manhattan": (SET_X, NARROW_SET),
    "fast_non_dominated_sort_py": None,
    "das_dennis_py": (60, 60),
    "associate_to_niches_py": (OBJECTIVES, np.ones((0, 3)), IDEAL, NADIR),
    "normalization_update_py": (np.zeros(1), OBJECTIVES, FRONT, 3),
}

MEMORY_FAILURES = {
    "squared_euclidean_cost_matrix": (HUGE_SERIES, HUGE_SERIES),
    "cdist_dtw": (HUGE_SET, HUGE_SET, None),
    "cdist_manhattan": (HUGE_SET, HUGE_SET),
}


def present(table):
    return {name: args for name, args in table.items() if args is not None}
