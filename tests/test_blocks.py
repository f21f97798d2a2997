"""Blockwise pairwise matrices on a real local Dask cluster are the single call, to the bit,
and show their progress and resume there as they do locally."""

import pickle

import numpy as np
import pytest

import _rust_core

da = pytest.importorskip("dask.array")
distributed = pytest.importorskip("dask.distributed")
from blocks_helpers import PARAMETERS, bar_counts, recorded_blocks, single_call  # noqa: E402
from helpers import assert_same_array  # noqa: E402

from tsmoo_kernels.blocks import MEASURES, cdist_blockwise, cdist_to_zarr, compute_matrix  # noqa: E402


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as c:
        yield c


@pytest.fixture(scope="module")
def sets():
    rng = np.random.default_rng(5)
    return rng.normal(size=(23, 16, 2)), rng.normal(size=(17, 16, 2))


def test_functions_pickle_by_reference():
    for name in _rust_core.__all__:
        f = getattr(_rust_core, name)
        data = pickle.dumps(f)
        assert b"_rust_core" in data and len(data) < 200
        assert pickle.loads(data) is f


@pytest.mark.parametrize("measure", MEASURES)
def test_blockwise_on_a_cluster_is_the_single_call(client, sets, measure):
    x, y = sets
    lazy = cdist_blockwise(measure, x, y, PARAMETERS[measure], chunk=5, y_chunk=6)
    assert lazy.shape == (23, 17) and lazy.numblocks == (5, 3)
    result = client.compute(lazy).result()
    expected = single_call(measure, x, y)
    assert result.dtype == np.float64
    assert np.array_equal(result.view(np.uint64), expected.view(np.uint64))


def test_streams_to_zarr(client, sets, tmp_path):
    pytest.importorskip("zarr")
    x, y = sets
    path = cdist_to_zarr("dtw", da.from_array(x, chunks=(4, -1, -1)), y, None, str(tmp_path / "m.zarr"), chunk=7)
    stored = da.from_zarr(path).compute()
    assert np.array_equal(stored, _rust_core.cdist_dtw(x, y, None))


def test_compute_matrix_shows_progress_on_a_cluster(client, sets, capfd):
    pytest.importorskip("tqdm")
    x, y = sets
    matrix = compute_matrix(cdist_blockwise("soft_dtw", x, y, 0.5, chunk=5, y_chunk=6), progress=True)
    assert bar_counts(capfd.readouterr().err)[-1] == (15, 15)
    assert_same_array(matrix, single_call("soft_dtw", x, y))


def test_resumes_on_a_cluster(client, sets, tmp_path, capfd):
    zarr = pytest.importorskip("zarr")
    pytest.importorskip("tqdm")
    x, y = sets
    path = str(tmp_path / "m.zarr")
    cdist_to_zarr("gak", x, y, 1.5, path, chunk=5, y_chunk=6, progress=True)
    assert bar_counts(capfd.readouterr().err)[-1] == (15, 15)
    assert recorded_blocks(path).all()
    # Blocks (1, 0) and (1, 2) become incomplete and spoilt, and so does the complete block
    # (0, 0): the cluster rewrites the first two and leaves the recorded one alone.
    array = zarr.open_array(path, mode="r+")
    array.attrs["cdist_blocks_done"] = ["111", "010", "111", "111", "111"]
    array[5:10, :6] = array[5:10, 12:] = array[:5, :6] = -1.0

    cdist_to_zarr("gak", x, y, 1.5, path, chunk=5, y_chunk=6, progress=True)

    counts = bar_counts(capfd.readouterr().err)
    assert counts[0] == (13, 15) and counts[-1] == (15, 15)
    assert recorded_blocks(path).all()
    expected = single_call("gak", x, y)
    expected[:5, :6] = -1.0
    assert_same_array(array[:], expected)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda x: cdist_blockwise("euclid", x, x), "unknown measure"),
        (lambda x: cdist_blockwise("manhattan", x, x, 3), "takes no parameter"),
        (lambda x: cdist_blockwise("dtw", x[0], x[0]), "shape"),
    ],
)
def test_refuses_bad_requests(sets, call, message):
    with pytest.raises(ValueError, match=message):
        call(sets[0])
