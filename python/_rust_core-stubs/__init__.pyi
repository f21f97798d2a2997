"""Type stubs for the _rust_core extension module.

Array parameters are typed by dtype only: the module checks the number of dimensions at run
time, and a shape in a parameter type would reject the many arrays whose static shape is
unknown. Results are typed with their number of dimensions, which the module guarantees.
"""

from typing import Literal, SupportsFloat, SupportsIndex, TypeAlias

import numpy as np
from numpy.typing import NDArray

__all__ = [
    "rust_available",
    "squared_euclidean_cost_matrix",
    "dtw",
    "dtw_with_path_py",
    "cdist_dtw",
    "soft_dtw",
    "cdist_soft_dtw",
    "gak",
    "unnormalized_gak_py",
    "cdist_gak",
    "manhattan",
    "cdist_manhattan",
    "das_dennis_py",
    "fast_non_dominated_sort_py",
    "associate_to_niches_py",
    "normalization_update_py",
]

# Arguments: float64 (or int64) arrays of any static shape.
_Float64Array: TypeAlias = NDArray[np.float64]
_Int64Array: TypeAlias = NDArray[np.int64]
# Unsigned integers go through the index protocol (int, bool, NumPy integers); floats through
# the interpreter's float conversion, which also takes integers and anything with __float__.
_Count: TypeAlias = SupportsIndex
_Real: TypeAlias = SupportsFloat | SupportsIndex

# Results: new C-ordered arrays of a fixed number of dimensions.
_Float64Matrix: TypeAlias = np.ndarray[tuple[int, int], np.dtype[np.float64]]
_Float64Vector: TypeAlias = np.ndarray[tuple[int], np.dtype[np.float64]]
_Int64Vector: TypeAlias = np.ndarray[tuple[int], np.dtype[np.int64]]

def rust_available() -> Literal[True]: ...
def squared_euclidean_cost_matrix(x: _Float64Array, y: _Float64Array) -> _Float64Matrix: ...
def dtw(x: _Float64Array, y: _Float64Array, sakoe_chiba_radius: _Count | None) -> float: ...
def dtw_with_path_py(
    x: _Float64Array, y: _Float64Array, sakoe_chiba_radius: _Count | None
) -> tuple[float, list[tuple[int, int]]]: ...
def cdist_dtw(
    x: _Float64Array, y: _Float64Array, sakoe_chiba_radius: _Count | None
) -> _Float64Matrix: ...
def soft_dtw(x: _Float64Array, y: _Float64Array, gamma: _Real) -> float: ...
def cdist_soft_dtw(x: _Float64Array, y: _Float64Array, gamma: _Real) -> _Float64Matrix: ...
def gak(x: _Float64Array, y: _Float64Array, sigma: _Real) -> float: ...
def unnormalized_gak_py(x: _Float64Array, y: _Float64Array, sigma: _Real) -> float: ...
def cdist_gak(x: _Float64Array, y: _Float64Array, sigma: _Real) -> _Float64Matrix: ...
def manhattan(x: _Float64Array, y: _Float64Array) -> float: ...
def cdist_manhattan(x: _Float64Array, y: _Float64Array) -> _Float64Matrix: ...
def das_dennis_py(n_dim: _Count, n_partitions: _Count) -> _Float64Matrix: ...
def fast_non_dominated_sort_py(f: _Float64Array) -> list[_Int64Vector]: ...
def associate_to_niches_py(
    f: _Float64Array, ref_dirs: _Float64Array, ideal: _Float64Array, nadir: _Float64Array
) -> tuple[_Int64Vector, _Float64Vector]: ...
def normalization_update_py(
    ideal_point: _Float64Array, f: _Float64Array, first_front: _Int64Array, n_dim: _Count
) -> tuple[_Float64Vector, _Float64Vector]: ...
