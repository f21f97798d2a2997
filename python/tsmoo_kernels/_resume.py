"""The Zarr store of a blockwise matrix that remembers which blocks are complete, so an
interrupted run goes on where it stopped.

The array's attributes hold two entries. ``cdist_fingerprint`` names what the matrix is made
of: measure, parameter, chunking, the shapes of both sets and a digest of their values; a run
resumes only into a store with an equal fingerprint. ``cdist_blocks_done`` has one string per
block row, ``"1"`` for a complete block and ``"0"`` otherwise. A block is marked only after its
values were written in full, and only by the process that drives the run, so a block cut off
mid-write, or written by a worker whose driver had already gone, is computed again. Zarr's
local and object stores replace a metadata document as a whole, so a reader finds either the
old record or the new one.
"""

from __future__ import annotations

import hashlib
import math
import numbers
from typing import Any

import numpy as np

FINGERPRINT = "cdist_fingerprint"
DONE = "cdist_blocks_done"
FORMAT = 1

# Fingerprint entries in the order a mismatch names them, with the name it uses.
_ENTRIES = {
    "format": "the store's record format",
    "measure": "the measure",
    "parameter": "the parameter",
    "chunks": "the chunking (chunk, y_chunk)",
    "x_shape": "x's shape",
    "y_shape": "y's shape",
    "x_sha256": "x's values",
    "y_sha256": "y's values",
}


def series_digests(block: np.ndarray) -> np.ndarray:
    """The sha256 of each series' float64 values, one row of 32 bytes per series."""
    digests = np.empty((block.shape[0], 32), dtype=np.uint8)
    for k, series in enumerate(block):
        values = np.ascontiguousarray(series, dtype="<f8")
        digests[k] = np.frombuffer(hashlib.sha256(values).digest(), dtype=np.uint8)
    return digests


def set_digest(a: Any) -> str:
    """A digest of a set of series that does not depend on how a dask array is chunked: the
    sha256 of the series' own digests, which a dask array computes where its chunks live."""
    import dask.array as da

    if isinstance(a, da.Array):
        per_chunk = da.blockwise(series_digests, "ik", a, "iab", new_axes={"k": 32}, concatenate=True, dtype=np.uint8)
        digests = per_chunk.compute()
    else:
        digests = series_digests(np.asarray(a))
    return hashlib.sha256(digests.tobytes()).hexdigest()


def _plain_parameter(parameter: Any) -> Any:
    """The parameter as a JSON value that compares equal for equal parameters, whether given
    as a Python or a NumPy number."""
    if parameter is None:
        return None
    if isinstance(parameter, (bool, np.bool_)):
        return bool(parameter)
    if isinstance(parameter, numbers.Integral):
        return int(parameter)
    if isinstance(parameter, numbers.Real):
        value = float(parameter)
        return value if math.isfinite(value) else repr(value)
    return repr(parameter)


def fingerprint(measure: str, parameter: Any, chunks: tuple[int, int], x: Any, y: Any) -> dict[str, Any]:
    x_digest = set_digest(x)
    return {
        "format": FORMAT,
        "measure": measure,
        "parameter": _plain_parameter(parameter),
        "chunks": list(chunks),
        "x_shape": list(np.shape(x)),
        "y_shape": list(np.shape(y)),
        "x_sha256": x_digest,
        "y_sha256": x_digest if y is x else set_digest(y),
    }


def _differences(stored: dict[str, Any], wanted: dict[str, Any]) -> list[str]:
    differences = []
    for entry, name in _ENTRIES.items():
        there, here = stored.get(entry), wanted[entry]
        if there == here:
            continue
        if entry.endswith("sha256"):
            differences.append(f"{name} differ")
        else:
            differences.append(f"{name} is {there!r} there and {here!r} here")
    return differences


class BlockRecord:
    """The store's array and which of its blocks are complete."""

    def __init__(self, array: Any, done: np.ndarray) -> None:
        self.array = array
        self.done = done

    @classmethod
    def open(cls, path: str, wanted: dict[str, Any], shape: tuple[int, int], grid: tuple[int, int],
             *, overwrite: bool) -> BlockRecord:
        """Opens the store at ``path`` to resume, or creates it (replacing what is there when
        ``overwrite``). Raises ValueError when the store holds another matrix."""
        import zarr

        if not overwrite:
            try:
                array = zarr.open_array(path, mode="r+")
            except FileNotFoundError:
                pass
            else:
                return cls(array, cls._check(path, array, wanted, grid))
        done = np.zeros(grid, dtype=bool)
        # Unwritten blocks read as NaN, never as a plausible distance. The fingerprint goes in
        # with the array's metadata, so no store exists without one.
        try:
            array = zarr.open_array(
                path, mode="w" if overwrite else "w-", shape=shape, chunks=tuple(wanted["chunks"]),
                dtype=np.float64, fill_value=np.nan, attributes={FINGERPRINT: wanted, DONE: _rows(done)},
            )
        except FileExistsError:
            raise ValueError(f"{path!r} holds data that is not a Zarr array; choose another path, or pass "
                             "overwrite=True to replace it") from None
        return cls(array, done)

    @staticmethod
    def _check(path: str, array: Any, wanted: dict[str, Any], grid: tuple[int, int]) -> np.ndarray:
        attributes = array.attrs.asdict()
        stored = attributes.get(FINGERPRINT)
        if not isinstance(stored, dict):
            raise ValueError(f"the Zarr array at {path!r} was not written by cdist_to_zarr (it has no {FINGERPRINT} "
                             "attribute); pass overwrite=True to replace it")
        differences = _differences(stored, wanted)
        if differences:
            raise ValueError(f"the store at {path!r} holds the matrix of other inputs: {'; '.join(differences)}. "
                             "Call again with the store's inputs to resume, or pass overwrite=True to start afresh")
        rows = attributes.get(DONE)
        if (not isinstance(rows, list) or len(rows) != grid[0]
                or any(not isinstance(row, str) or len(row) != grid[1] or set(row) - {"0", "1"} for row in rows)):
            raise ValueError(f"the store at {path!r} has a damaged {DONE} attribute; pass overwrite=True to start afresh")
        return np.array([[mark == "1" for mark in row] for row in rows], dtype=bool).reshape(grid)

    def missing(self) -> list[tuple[int, int]]:
        return [(int(i), int(j)) for i, j in np.argwhere(~self.done)]

    def mark(self, i: int, j: int) -> None:
        """Records block (i, j) as complete; call only once its values are fully written."""
        self.done[i, j] = True
        self.array.attrs[DONE] = _rows(self.done)


def _rows(done: np.ndarray) -> list[str]:
    return ["".join("1" if mark else "0" for mark in row) for row in done]
