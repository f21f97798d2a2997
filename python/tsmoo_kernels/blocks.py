"""Pairwise matrices that outgrow one machine, computed blockwise with Dask.

Every entry of a ``cdist_*`` matrix depends only on one series of each set (``cdist_gak``'s
normalisation uses the two series' own self-similarities), so the matrix of two chunked sets
is the grid of the matrices of their chunks, and each block is one call of the extension on
the two chunks. The result is a lazy ``dask.array.Array``: compute it on a
``dask.distributed`` cluster (:func:`compute_matrix` shows a progress bar meanwhile), or
stream it to disk with :func:`cdist_to_zarr` instead of holding it in memory; an interrupted
:func:`cdist_to_zarr` run resumes where it stopped. Entries are bit-identical to one call on
the whole sets.

Example::

    from dask.distributed import Client
    from tsmoo_kernels.blocks import cdist_blockwise, cdist_to_zarr, compute_matrix

    client = Client("tcp://scheduler:8786")
    matrix = cdist_blockwise("dtw", x, y, 10, chunk=2_000)   # lazy
    result = compute_matrix(matrix, progress=True)           # in memory, with a progress bar
    cdist_to_zarr("dtw", x, y, 10, "dtw.zarr", chunk=2_000, progress=True)  # resumable
"""

from __future__ import annotations

import uuid
from typing import Any

import numpy as np

import _rust_core

__all__ = ["MEASURES", "cdist_blockwise", "cdist_to_zarr", "compute_matrix"]

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


def _series_pair(measure: str, x, y, parameter, chunk: int, y_chunk: int | None):
    if measure not in MEASURES:
        raise ValueError(f"unknown measure {measure!r}; expected one of {', '.join(MEASURES)}")
    if not MEASURES[measure] and parameter is not None:
        raise ValueError(f"{measure} takes no parameter")
    return _as_series_chunks(x, chunk), _as_series_chunks(y, y_chunk or chunk)


def cdist_blockwise(measure: str, x, y, parameter=None, *, chunk: int = 1024, y_chunk: int | None = None):
    """The lazy (n_x, n_y) matrix of ``_rust_core.cdist_<measure>(x, y[, parameter])``.

    ``measure`` is one of ``"dtw"`` (parameter: band radius or None), ``"soft_dtw"`` (gamma),
    ``"gak"`` (sigma) or ``"manhattan"`` (no parameter). ``x`` and ``y`` are float64 arrays or
    dask arrays of shape (n, steps, features); ``chunk`` (and ``y_chunk``, default ``chunk``)
    series per block. Each block runs on a Dask worker, in parallel on that worker's pool.
    """
    import dask.array as da

    xs, ys = _series_pair(measure, x, y, parameter, chunk, y_chunk)
    return da.blockwise(
        _block, "ij", xs, "iab", ys, "jab",
        dtype=np.float64, concatenate=True, measure=measure, parameter=parameter,
    )


def _cells(chunks: tuple[tuple[int, ...], tuple[int, ...]], i: int, j: int) -> int:
    return chunks[0][i] * chunks[1][j]


def compute_matrix(matrix, *, progress: bool = False) -> np.ndarray:
    """Computes a lazy matrix of :func:`cdist_blockwise` (any 2-d dask array) with the active
    scheduler, like ``matrix.compute()``; ``progress=True`` shows a tqdm bar of the blocks
    done out of all, matrix cells per second and the time left, also when a
    ``dask.distributed`` client runs it."""
    from ._block_runs import BlockProgress, run_blocks

    grid = matrix.numblocks
    blocks = {(matrix.name, i, j): (i, j) for i in range(grid[0]) for j in range(grid[1])}
    bar = BlockProgress(total=len(blocks), done=0, description=f"matrix {matrix.shape[0]}x{matrix.shape[1]}",
                        enabled=progress)
    try:
        (result,) = run_blocks([matrix], blocks, lambda i, j: bar.advance(_cells(matrix.chunks, i, j)))
    finally:
        bar.close()
    return result


def _compute_and_store(x_block: np.ndarray, y_block: np.ndarray, *, measure: str, parameter, path: str,
                       rows: tuple[int, int], columns: tuple[int, int]) -> None:
    import zarr

    block = _block(x_block, y_block, measure=measure, parameter=parameter)
    zarr.open_array(path, mode="r+")[rows[0]:rows[1], columns[0]:columns[1]] = block


def _offsets(sizes: tuple[int, ...]) -> list[int]:
    return [0, *np.cumsum(sizes).tolist()]


def cdist_to_zarr(measure: str, x, y, parameter, path: str, *, chunk: int = 1024, y_chunk: int | None = None,
                  progress: bool = False, overwrite: bool = False) -> str:
    """Computes the matrix block by block into a Zarr array at ``path`` (a directory or any
    store URL that zarr accepts), so it never has to fit in memory. Returns the path.

    A run that stops part way (Ctrl-C, a killed job, a lost cluster) leaves the blocks it
    finished recorded in the store; calling again with the same inputs, parameter, chunking
    and path computes only the rest. The store's attributes carry a fingerprint of all of
    these, including a digest of the inputs' values (one pass over the inputs): calling with
    anything else raises ValueError naming what differs, and ``overwrite=True`` replaces the
    store and starts afresh. Blocks not yet written read as NaN. ``progress=True`` shows a
    tqdm bar of the blocks done out of all, matrix cells per second and the time left.
    """
    from dask import delayed

    from ._block_runs import BlockProgress, run_blocks
    from ._resume import BlockRecord, fingerprint

    xs, ys = _series_pair(measure, x, y, parameter, chunk, y_chunk)
    chunks = (xs.chunks[0], ys.chunks[0])
    grid = (len(chunks[0]), len(chunks[1]))
    wanted = fingerprint(measure, parameter, (chunk, y_chunk or chunk), x, y)
    record = BlockRecord.open(path, wanted, (xs.shape[0], ys.shape[0]), grid, overwrite=overwrite)

    x_parts, y_parts = xs.to_delayed().ravel(), ys.to_delayed().ravel()
    row_offsets, column_offsets = _offsets(chunks[0]), _offsets(chunks[1])
    # Each call's tasks are its own: they write into the store, so a task of an earlier,
    # abandoned call that a cluster may still hold never stands in for one of this call.
    run = uuid.uuid4().hex
    tasks: list[Any] = []
    blocks: dict[Any, tuple[int, int]] = {}
    for i, j in record.missing():
        key = f"cdist-to-zarr-{run}-{i}-{j}"
        tasks.append(delayed(_compute_and_store)(
            x_parts[i], y_parts[j], measure=measure, parameter=parameter, path=path,
            rows=(row_offsets[i], row_offsets[i + 1]), columns=(column_offsets[j], column_offsets[j + 1]),
            dask_key_name=key,
        ))
        blocks[key] = (i, j)

    def finished(i: int, j: int) -> None:
        record.mark(i, j)
        bar.advance(_cells(chunks, i, j))

    bar = BlockProgress(total=grid[0] * grid[1], done=int(record.done.sum()),
                        description=f"{measure} {xs.shape[0]}x{ys.shape[0]}", enabled=progress)
    try:
        if tasks:
            run_blocks(tasks, blocks, finished)
    finally:
        bar.close()
    return path
