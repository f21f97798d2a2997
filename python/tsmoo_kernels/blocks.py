"""Pairwise matrices that outgrow one machine, computed blockwise with Dask.

Every entry of a ``cdist_*`` matrix depends only on one series of each set (``cdist_gak``'s
normalisation uses the two series' own self-similarities), so the matrix of two chunked sets
is the grid of the matrices of their chunks, and each block is one call of the extension on
the two chunks. The result is a lazy ``dask.array.Array``: compute it on a
``dask.distributed`` cluster, or stream it to disk with :func:`cdist_to_zarr` instead of
holding it in memory. Entries are bit-identical to one call on the whole sets.

Example::

    from dask.distributed import Client
    from tsmoo_kernels.blocks import cdist_blockwise, cdist_to_zarr

    client = Client("tcp://scheduler:8786")
    matrix = cdist_blockwise("dtw", x, y, 10, chunk=2_000)   # lazy
    cdist_to_zarr("dtw", x, y, 10, "dtw.zarr", chunk=2_000)  # written block by block
"""

from __future__ import annotations

import numpy as np

import _rust_core

__all__ = ["MEASURES", "cdist_blockwise", "cdist_to_zarr"]

# Measure name -> whether it takes a third argument (band radius, gamma or sigma).
MEASURES = {"dtw": True, "soft_dtw": True, "gak": True, "manhattan": False}


def _block(x_block: np.ndarray, y_block: np.ndarray, *, measure: str, parameter) -> np.ndarray:
    function = getattr(_rust_core, "cdist_" + measure)
    if MEASURES[measure]:
        return function(x_block, y_block, parameter)
    return function(x_block, y_block)


def _as_series_chunks(a, chunk: int):
    """A dask array chunked along the series axis only; each series stays whole."""
    import dask.array as da

    if isinstance(a, da.Array):
        if a.ndim != 3:
            raise ValueError(f"expected a set of series of shape (n, steps, features), got {a.ndim} dimensions")
        return a.rechunk({0: chunk, 1: -1, 2: -1})
    a = np.asarray(a)
    if a.ndim != 3 or a.dtype != np.float64:
        raise ValueError(f"expected a float64 array of shape (n, steps, features), got {a.dtype} with shape {a.shape}")
    return da.from_array(a, chunks=(chunk, -1, -1))


def cdist_blockwise(measure: str, x, y, parameter=None, *, chunk: int = 1024, y_chunk: int | None = None):
    """The lazy (n_x, n_y) matrix of ``_rust_core.cdist_<measure>(x, y[, parameter])``.

    ``measure`` is one of ``"dtw"`` (parameter: band radius or None), ``"soft_dtw"`` (gamma),
    ``"gak"`` (sigma) or ``"manhattan"`` (no parameter). ``x`` and ``y`` are float64 arrays or
    dask arrays of shape (n, steps, features); ``chunk`` (and ``y_chunk``, default ``chunk``)
    series per block. Each block runs on a Dask worker, in parallel on that worker's pool.
    """
    import dask.array as da

    if measure not in MEASURES:
        raise ValueError(f"unknown measure {measure!r}; expected one of {', '.join(MEASURES)}")
    if not MEASURES[measure] and parameter is not None:
        raise ValueError(f"{measure} takes no parameter")
    xs = _as_series_chunks(x, chunk)
    ys = _as_series_chunks(y, y_chunk or chunk)
    return da.blockwise(
        _block, "ij", xs, "iab", ys, "jab",
        dtype=np.float64, concatenate=True, measure=measure, parameter=parameter,
    )


def cdist_to_zarr(measure: str, x, y, parameter, path: str, *, chunk: int = 1024, y_chunk: int | None = None):
    """Computes the matrix block by block into a Zarr store at ``path`` (a directory or any
    store URL that zarr accepts), so it never has to fit in memory. Returns the path."""
    matrix = cdist_blockwise(measure, x, y, parameter, chunk=chunk, y_chunk=y_chunk)
    matrix.to_zarr(path, overwrite=True)
    return path
