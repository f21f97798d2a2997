"""Type stubs for the _rust_core extension module, with the documentation of every function.

The compiled functions carry only their text signatures; editors, type checkers and ``help`` on
the stubs show the docstrings below. Conventions shared by all functions:

- Every parameter is required and may be given by position or keyword.
- Arrays must already be NumPy arrays of the exact dtype (float64; int64 for ``first_front``)
  and number of dimensions; nothing is converted. Any layout is read in place, never written.
  A series is ``(steps, features)``, a set of series ``(n, steps, features)``.
- A wrong argument raises ``TypeError`` (or ``OverflowError`` for a negative count), with the
  note "while processing '<parameter>'". Inputs whose shapes do not fit together raise
  ``pyo3_runtime.PanicException`` ("ndarray: index out of bounds"), which derives from
  ``BaseException``: ``except Exception`` does not catch it.
- ``cdist_*`` entry ``[i, j]`` equals the single-pair function on ``x[i]``, ``y[j]`` to the bit,
  for any number of worker threads.

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

def rust_available() -> Literal[True]:
    """Returns True: the compiled module is importable. Never fails."""

def squared_euclidean_cost_matrix(x: _Float64Array, y: _Float64Array) -> _Float64Matrix:
    """The (n, m) local cost matrix of two series: entry [i, j] is the squared Euclidean distance
    between step i of ``x`` (n, d) and step j of ``y`` (m, e), over x's d features (y's extra
    features are ignored). No square root is taken.

    Raises PanicException when y has fewer features than x (e < d, both non-empty).
    """

def dtw(x: _Float64Array, y: _Float64Array, sakoe_chiba_radius: _Count | None) -> float:
    """Dynamic time warping distance of two series ``x`` (n, d) and ``y`` (m, e >= d): the square
    root of the smallest sum of squared step distances over monotone alignments of their steps.

    ``sakoe_chiba_radius``: None for no band, or a width r >= 0 in steps of y: step i of x may
    only meet steps within r of the diagonal from (0, 0) to (n - 1, m - 1). Radius 0 with equal
    lengths is the Euclidean distance. A band that cannot connect the two ends gives inf; two
    empty series 0.0, one empty inf.

    Raises OverflowError for a negative radius, PanicException when y has fewer features than x.
    """

def dtw_with_path_py(
    x: _Float64Array, y: _Float64Array, sakoe_chiba_radius: _Count | None
) -> tuple[float, list[tuple[int, int]]]:
    """The DTW distance (as ``dtw`` returns it) and one optimal warping path: the list of matched
    step pairs (i, j), from (0, 0) to (n - 1, m - 1) when the ends are connected. Ties prefer the
    diagonal move, then the move along x. Empty series give an empty path.

    Raises like ``dtw``.
    """

def cdist_dtw(
    x: _Float64Array, y: _Float64Array, sakoe_chiba_radius: _Count | None
) -> _Float64Matrix:
    """The (n_x, n_y) matrix of ``dtw(x[i], y[j], sakoe_chiba_radius)`` for two sets of series
    ``x`` (n_x, steps_x, d) and ``y`` (n_y, steps_y, e >= d), rows computed in parallel on the
    module's worker pool. A set against itself computes each pair once.

    Raises like ``dtw``: PanicException when y's series have fewer features than x's.
    """

def soft_dtw(x: _Float64Array, y: _Float64Array, gamma: _Real) -> float:
    """Soft-DTW of two series ``x`` (n, d) and ``y`` (m, e >= d): DTW's minimum over alignments
    replaced by the smoothed minimum -gamma * log(sum(exp(-cost / gamma))), on squared step
    distances, without a square root. The value may be negative (identical series give a value
    below 0 once several alignments exist). ``gamma`` > 0 is the smoothing; it is not checked
    (0 gives NaN).

    Raises PanicException when y has fewer features than x.
    """

def cdist_soft_dtw(x: _Float64Array, y: _Float64Array, gamma: _Real) -> _Float64Matrix:
    """The (n_x, n_y) matrix of ``soft_dtw(x[i], y[j], gamma)`` for two sets of series ``x``
    (n_x, steps_x, d) and ``y`` (n_y, steps_y, e >= d), rows computed in parallel.

    Raises PanicException when y's series have fewer features than x's.
    """

def gak(x: _Float64Array, y: _Float64Array, sigma: _Real) -> float:
    """Normalised global alignment kernel of two series ``x`` (n, d) and ``y`` (m, e >= d):
    K(x, y) / sqrt(K(x, x) * K(y, y)) with K as in ``unnormalized_gak_py``: a similarity of at
    most about 1, exactly 1 for identical series. Long series can make K overflow or underflow;
    the quotient then follows IEEE arithmetic (0 or NaN). ``sigma`` is the bandwidth, not checked
    (0 gives NaN).

    Raises PanicException when y has fewer features than x.
    """

def unnormalized_gak_py(x: _Float64Array, y: _Float64Array, sigma: _Real) -> float:
    """The global alignment kernel sum K(x, y): over all monotone alignments of the steps of ``x``
    (n, d) and ``y`` (m, e >= d), the product along the alignment of the local kernel e / (2 - e),
    e = exp(-squared distance / (2 sigma^2)). Summed in plain floating point (no log space), so
    long series overflow to inf or underflow to 0.

    Raises PanicException when y has fewer features than x.
    """

def cdist_gak(x: _Float64Array, y: _Float64Array, sigma: _Real) -> _Float64Matrix:
    """The (n_x, n_y) matrix of ``gak(x[i], y[j], sigma)`` for two sets of series ``x``
    (n_x, steps_x, d) and ``y`` (n_y, steps_y, e >= d). Each series' self-similarity is computed
    once; rows are computed in parallel, and a set against itself computes each pair once.

    Raises PanicException when y's series have fewer features than x's.
    """

def manhattan(x: _Float64Array, y: _Float64Array) -> float:
    """Manhattan (L1) distance without warping: the sum of |x[t, k] - y[t, k]| over x's index range,
    summed row by row. ``y`` must cover x's shape; its extra steps and features are ignored.

    Raises PanicException when y is shorter or narrower than a non-empty x.
    """

def cdist_manhattan(x: _Float64Array, y: _Float64Array) -> _Float64Matrix:
    """The (n_x, n_y) matrix of ``manhattan(x[i], y[j])`` for two sets of series ``x``
    (n_x, steps, d) and ``y`` (n_y, steps_y >= steps, e >= d), rows computed in parallel.

    Raises PanicException when y's series are shorter or narrower than x's (both sets non-empty).
    """

def das_dennis_py(n_dim: _Count, n_partitions: _Count) -> _Float64Matrix:
    """Das-Dennis reference directions: every point of the unit simplex in ``n_dim`` dimensions
    whose coordinates are multiples of 1 / ``n_partitions``, as a (C(p + n_dim - 1, n_dim - 1),
    n_dim) array in lexicographic order (first coordinate smallest first). Each row sums to 1.

    Raises ValueError for ``n_dim`` 0, OverflowError for a negative argument.
    """

def fast_non_dominated_sort_py(f: _Float64Array) -> list[_Int64Vector]:
    """Non-dominated sorting of ``f`` (n solutions, m objectives, all minimised): the list of
    fronts, best first, each an int64 array of row indices in ascending order. Row a dominates
    row b when it is nowhere worse and somewhere better; the first front is the rows no row
    dominates, the next those dominated only by earlier fronts. Every row is in exactly one
    front; n = 0 gives an empty list. A NaN objective neither grants nor blocks dominance.

    Never fails for a 2-D float64 array.
    """

def associate_to_niches_py(
    f: _Float64Array, ref_dirs: _Float64Array, ideal: _Float64Array, nadir: _Float64Array
) -> tuple[_Int64Vector, _Float64Vector]:
    """Niche association: normalises ``f`` (m solutions, n objectives) to
    (f - ideal) / (nadir - ideal) (ranges below 1e-12 count as 1e-12), then assigns each solution
    to the reference direction (row of ``ref_dirs``, (R, >= n), any length) whose line through
    the origin is nearest. Returns (niches, distances): per solution the int64 row index of its
    direction (the lowest index on ties) and the float64 perpendicular distance to it.
    ``ideal`` and ``nadir`` are (>= n,) vectors, e.g. from ``normalization_update_py``.

    Raises PanicException when ``ideal``, ``nadir`` or the rows of ``ref_dirs`` are shorter than
    n, or when there are solutions but no directions.
    """

def normalization_update_py(
    ideal_point: _Float64Array, f: _Float64Array, first_front: _Int64Array, n_dim: _Count
) -> tuple[_Float64Vector, _Float64Vector]:
    """One normalisation step: returns (ideal, nadir). ``ideal`` is ``ideal_point`` (length >= n)
    lowered to the column minima of all rows of ``f`` (m solutions, n objectives). ``nadir`` (n,)
    comes from the intercepts of the hyperplane through the extreme points of the rows listed in
    ``first_front`` (int64 row indices), or, when that hyperplane is unusable or the front has
    fewer than ``n_dim`` members, from the front's worst value per objective (-inf for an empty
    front). ``n_dim`` is the number of objectives the caller works with.

    Stateless: pass the returned ``ideal`` back in the next generation; extreme points and worst
    values of earlier calls are not remembered.

    Raises PanicException when ``ideal_point`` is shorter than n, an index of ``first_front`` is
    negative or >= m, or ``n_dim`` < n with at least ``n_dim`` front members.
    """
