"""What the blockwise tests share: parameters, the single call a matrix must equal, and readers
of a store's completion record and of a progress bar's output."""

import re

import numpy as np

import _rust_core
from tsmoo_kernels.blocks import MEASURES

PARAMETERS = {"dtw": 3, "soft_dtw": 0.5, "gak": 1.5, "manhattan": None}


def single_call(measure, x, y, parameter=None):
    f = getattr(_rust_core, "cdist_" + measure)
    if not MEASURES[measure]:
        return f(x, y)
    return f(x, y, PARAMETERS[measure] if parameter is None else parameter)


def recorded_blocks(path):
    """Which blocks the store at path records as complete (a boolean grid), or None before the
    store exists."""
    import zarr

    try:
        rows = zarr.open_array(str(path), mode="r").attrs["cdist_blocks_done"]
    except FileNotFoundError:
        return None
    return np.array([[mark == "1" for mark in row] for row in rows], dtype=bool)


def bar_counts(output):
    """Every (done, total) a tqdm bar printed, in order."""
    return [(int(done), int(total)) for done, total in re.findall(r"\| *(\d+)/(\d+) \[", output)]
