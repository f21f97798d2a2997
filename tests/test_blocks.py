"""Blockwise pairwise matrices on a real local Dask cluster are the single call, to the bit."""

import pickle

import numpy as np
import pytest

import _rust_core

da = pytest.importorskip("dask.array")
distributed = pytest.importorskip("dask.distributed")
from tsmoo_kernels.blocks import MEASURES, cdist_blockwise, cdist_to_zarr  # noqa: E402

PARAMETERS = {"dtw": 3, "soft_dtw": 0.5, "gak": 1.5, "manhattan": None}


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as c:
        yield c


def single_call(measure, x, y):
    f = getattr(_rust_core, "cdist_" + measure)
    return f(x, y, PARAMETERS[measure]) if MEASURES[measure] else f(x, y)


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
