"""cdist_to_zarr resumes an interrupted run with the blocks it misses and nothing else, refuses
to resume into a store of other inputs, and shows its progress only when asked."""

import json
import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

da = pytest.importorskip("dask.array")
zarr = pytest.importorskip("zarr")
pytest.importorskip("tqdm")
from blocks_helpers import PARAMETERS, bar_counts, recorded_blocks, single_call  # noqa: E402
from helpers import assert_same_array  # noqa: E402

from tsmoo_kernels import blocks  # noqa: E402
from tsmoo_kernels.blocks import cdist_blockwise, cdist_to_zarr, compute_matrix  # noqa: E402

CHUNK, Y_CHUNK = 5, 6
GRID = (5, 3)  # 23 and 17 series
BLOCKS = GRID[0] * GRID[1]
ALLOWED = 4  # blocks an interrupted run finishes
STALLED_RUN = os.path.join(os.path.dirname(__file__), "blocks_stalled_run.py")


@pytest.fixture(scope="module")
def sets():
    rng = np.random.default_rng(11)
    return rng.normal(size=(23, 16, 2)), rng.normal(size=(17, 16, 2))


def stored(path):
    return zarr.open_array(str(path), mode="r")[:]


@pytest.fixture
def computed_blocks(monkeypatch, sets):
    """The (i, j) of every CHUNK x Y_CHUNK block the kernel is called on in this process, told
    apart by the first value of each block's first series (the random values are all distinct)."""
    x, y = sets
    row_of = {x[i * CHUNK, 0, 0]: i for i in range(GRID[0])}
    column_of = {y[j * Y_CHUNK, 0, 0]: j for j in range(GRID[1])}
    calls = []
    compute_block = blocks._block

    def counting_block(x_block, y_block, **kwargs):
        calls.append((row_of.get(x_block[0, 0, 0]), column_of.get(y_block[0, 0, 0])))
        return compute_block(x_block, y_block, **kwargs)

    monkeypatch.setattr(blocks, "_block", counting_block)
    return calls


def interrupt_after_some_blocks(tmp_path, sets, path, measure, how, *, progress):
    """Runs cdist_to_zarr in a child that stalls after ALLOWED blocks, waits until the store
    records them and a further block has stalled, and interrupts it. Returns the exit status
    and what the child wrote to stderr."""
    inputs, stalled = tmp_path / "inputs.npz", tmp_path / "stalled"
    np.savez(inputs, x=sets[0], y=sets[1])
    settings = {"inputs": str(inputs), "path": str(path), "measure": measure, "parameter": PARAMETERS[measure],
                "chunk": CHUNK, "y_chunk": Y_CHUNK, "allowed": ALLOWED, "progress": progress, "stalled": str(stalled)}
    child = subprocess.Popen([sys.executable, STALLED_RUN, json.dumps(settings)],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    try:
        deadline = time.monotonic() + 120
        while True:
            done = recorded_blocks(path)
            if done is not None and done.sum() == ALLOWED and stalled.exists():
                break
            if child.poll() is not None:
                pytest.fail(f"the run ended before it stalled:\n{child.stderr.read()}")
            if time.monotonic() > deadline:
                pytest.fail("the run did not reach its stall point within two minutes")
            time.sleep(0.02)
        child.send_signal(how)
        _, errors = child.communicate(timeout=120)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    return child.returncode, errors


@pytest.mark.parametrize("measure, how", [("dtw", signal.SIGKILL), ("soft_dtw", signal.SIGINT)], ids=["SIGKILL", "SIGINT"])
def test_an_interrupted_run_resumes_with_the_missing_blocks_only(tmp_path, sets, computed_blocks, capsys, measure, how):
    x, y = sets
    path = tmp_path / "matrix.zarr"
    status, errors = interrupt_after_some_blocks(tmp_path, sets, path, measure, how, progress=how == signal.SIGINT)
    done = recorded_blocks(path)
    missing = sorted(map(tuple, np.argwhere(~done).tolist()))
    assert done.sum() == ALLOWED, errors
    partial = stored(path)
    if how == signal.SIGINT:
        assert status == 130, errors
        # The bar stopped at the blocks recorded, and the stalled blocks, let go after the
        # interrupt, wrote their values without being recorded.
        assert bar_counts(errors)[-1] == (ALLOWED, BLOCKS), errors
        written = [(i, j) for i, j in missing
                   if not np.isnan(partial[i * CHUNK:(i + 1) * CHUNK, j * Y_CHUNK:(j + 1) * Y_CHUNK]).all()]
        assert written, "no block was written after the interrupt"
    else:
        assert status == -signal.SIGKILL, errors
        # What a store that replaces no chunk whole could hold after a kill mid-write.
        i, j = missing[0]
        zarr.open_array(str(path), mode="r+")[i * CHUNK:i * CHUNK + 2, j * Y_CHUNK:(j + 1) * Y_CHUNK] = -1.0
    capsys.readouterr()

    cdist_to_zarr(measure, x, y, PARAMETERS[measure], str(path), chunk=CHUNK, y_chunk=Y_CHUNK, progress=True)

    assert sorted(computed_blocks) == missing
    counts = bar_counts(capsys.readouterr().err)
    assert counts[0] == (ALLOWED, BLOCKS) and counts[-1] == (BLOCKS, BLOCKS)
    assert recorded_blocks(path).all()
    assert_same_array(stored(path), single_call(measure, x, y))


@pytest.fixture(scope="module")
def finished(tmp_path_factory, sets):
    x, y = sets
    path = tmp_path_factory.mktemp("finished") / "dtw.zarr"
    cdist_to_zarr("dtw", x, y, 3, str(path), chunk=CHUNK, y_chunk=Y_CHUNK)
    return path


def test_a_run_writes_the_single_call_and_records_every_block(sets, finished):
    x, y = sets
    assert_same_array(stored(finished), single_call("dtw", x, y))
    assert recorded_blocks(finished).shape == GRID and recorded_blocks(finished).all()


@pytest.mark.parametrize("form", ["array", "dask array", "lists"])
def test_a_finished_store_computes_nothing_again(sets, finished, computed_blocks, form):
    # A dask array in chunks of its own, nested lists and a NumPy scalar are the same inputs
    # and parameter.
    x, y = sets
    x = {"array": x, "dask array": da.from_array(x, chunks=(7, -1, -1)), "lists": x.tolist()}[form]
    cdist_to_zarr("dtw", x, y, np.int64(3), str(finished), chunk=CHUNK, y_chunk=Y_CHUNK)
    assert computed_blocks == []


def one_ulp_apart(a):
    changed = a.copy()
    changed.view(np.uint64)[7, 3, 1] ^= 1
    return changed


@pytest.mark.parametrize(
    "change, message",
    [
        (dict(measure="gak", parameter=1.5), "the measure is 'dtw' there and 'gak' here"),
        (dict(parameter=2), "the parameter is 3 there and 2 here"),
        (dict(chunk=4), r"the chunking \(chunk, y_chunk\) is \[5, 6\] there and \[4, 6\] here"),
        (dict(y_chunk=5), r"the chunking \(chunk, y_chunk\) is \[5, 6\] there and \[5, 5\] here"),
        (dict(x=one_ulp_apart), "x's values differ"),
        (dict(y=lambda y: y[:-1]), r"y's shape is \[17, 16, 2\] there and \[16, 16, 2\] here; y's values differ"),
    ],
    ids=["measure", "parameter", "chunk", "y_chunk", "x values", "y shape"],
)
def test_a_resume_with_other_inputs_is_refused(sets, finished, computed_blocks, change, message):
    x, y = sets
    call = dict(measure="dtw", x=x, y=y, parameter=3, chunk=CHUNK, y_chunk=Y_CHUNK)
    for name, value in change.items():
        call[name] = value(call[name]) if callable(value) else value
    before = stored(finished)
    with pytest.raises(ValueError, match=message) as raised:
        cdist_to_zarr(call.pop("measure"), call.pop("x"), call.pop("y"), call.pop("parameter"), str(finished), **call)
    assert "overwrite=True" in str(raised.value)
    assert computed_blocks == []
    assert_same_array(stored(finished), before)
    assert recorded_blocks(finished).all()


def test_a_store_written_otherwise_is_refused(tmp_path, sets):
    x, y = sets
    foreign = str(tmp_path / "foreign.zarr")
    zarr.open_array(foreign, mode="w", shape=(23, 17), chunks=(CHUNK, Y_CHUNK), dtype=np.float64)
    with pytest.raises(ValueError, match="was not written by cdist_to_zarr"):
        cdist_to_zarr("dtw", x, y, 3, foreign, chunk=CHUNK, y_chunk=Y_CHUNK)
    folder = tmp_path / "folder"
    folder.mkdir()
    (folder / "notes.txt").write_text("kept")
    with pytest.raises(ValueError, match="not a Zarr array"):
        cdist_to_zarr("dtw", x, y, 3, str(folder), chunk=CHUNK, y_chunk=Y_CHUNK)
    assert (folder / "notes.txt").read_text() == "kept"


def test_overwrite_starts_afresh(tmp_path, sets, computed_blocks):
    x, y = sets
    path = str(tmp_path / "matrix.zarr")
    cdist_to_zarr("dtw", x, y, 3, path, chunk=CHUNK, y_chunk=Y_CHUNK)
    computed_blocks.clear()
    cdist_to_zarr("dtw", x, y, 3, path, chunk=CHUNK, y_chunk=Y_CHUNK, overwrite=True)
    assert sorted(computed_blocks) == [(i, j) for i in range(GRID[0]) for j in range(GRID[1])]
    assert recorded_blocks(path).all()
    cdist_to_zarr("gak", x, y[:9], 1.5, path, chunk=4, overwrite=True)
    assert_same_array(stored(path), single_call("gak", x, y[:9]))
    assert recorded_blocks(path).shape == (6, 3) and recorded_blocks(path).all()


def test_progress_bar_counts_every_block(tmp_path, sets, capfd):
    x, y = sets
    cdist_to_zarr("gak", x, y, 1.5, str(tmp_path / "quiet.zarr"), chunk=CHUNK, y_chunk=Y_CHUNK)
    quiet = compute_matrix(cdist_blockwise("manhattan", x, y, chunk=CHUNK, y_chunk=Y_CHUNK))
    assert capfd.readouterr() == ("", "")
    assert_same_array(quiet, single_call("manhattan", x, y))

    cdist_to_zarr("gak", x, y, 1.5, str(tmp_path / "shown.zarr"), chunk=CHUNK, y_chunk=Y_CHUNK, progress=True)
    shown = capfd.readouterr()
    counts = bar_counts(shown.err)
    assert shown.out == "" and counts[0] == (0, BLOCKS) and counts[-1] == (BLOCKS, BLOCKS)
    assert "gak 23x17" in shown.err and "cells/s" in shown.err

    matrix = compute_matrix(cdist_blockwise("manhattan", x, y, chunk=CHUNK, y_chunk=Y_CHUNK), progress=True)
    assert bar_counts(capfd.readouterr().err)[-1] == (BLOCKS, BLOCKS)
    assert_same_array(matrix, single_call("manhattan", x, y))
