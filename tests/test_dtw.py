"""DTW distance, warping path and distance matrix, bit for bit against the plain-Python
reference, on every SIMD path and any worker count."""

import math
import os

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import _rust_core
from helpers import (PanicException, arrays, assert_same_array, assert_same_float, finite_values, relayout,
                     run_python, running_targets, simd_targets)
from reference_dtw import IndexFailure, dtw as reference_dtw, dtw_with_path as reference_path

INF = math.inf
RADII = st.one_of(st.none(), st.sampled_from([0, 1, 2, 5, 10**6, 2**64 - 1]), st.integers(0, 40))
# Set in the subprocesses that rerun the matrix tests on one forced SIMD path.
IN_SUBRUN = "DTW_TEST_SUBRUN" in os.environ


def panic_message(call):
    try:
        call()
    except PanicException as e:
        return e.args
    raise AssertionError("no PanicException")


@st.composite
def series_pairs(draw, max_steps=30, elements=None):
    n, m = draw(st.integers(0, max_steps)), draw(st.integers(0, max_steps))
    d = draw(st.integers(0, 4))
    e = draw(st.integers(d, d + 2))
    kwargs = {} if elements is None else {"elements": elements}
    return draw(arrays((n, d), **kwargs)), draw(arrays((m, e), **kwargs))


# Finite values whose differences and squares overflow to +inf: the inputs for which the
# kernels drop the NaN care of their minimum must still give the reference's bits.
OVERFLOWING = st.one_of(finite_values, st.sampled_from([1e308, -1e308, 1e200, -1e200, 1e154]))


class TestAgainstReference:
    @settings(max_examples=250, deadline=None)
    @given(series_pairs(), RADII)
    def test_distance_and_path(self, pair, radius):
        x, y = pair
        expected_distance, expected_path = reference_path(x.tolist(), y.tolist(), radius)
        assert_same_float(_rust_core.dtw(x, y, radius), expected_distance)
        distance, path = _rust_core.dtw_with_path_py(x, y, radius)
        assert_same_float(distance, expected_distance)
        assert path == expected_path
        assert all(type(i) is int and type(j) is int for i, j in path)

    @settings(max_examples=80, deadline=None)
    @given(series_pairs(max_steps=12, elements=OVERFLOWING), RADII)
    def test_finite_values_that_overflow(self, pair, radius):
        x, y = pair
        expected_distance, expected_path = reference_path(x.tolist(), y.tolist(), radius)
        assert_same_float(_rust_core.dtw(x, y, radius), expected_distance)
        assert _rust_core.dtw_with_path_py(x, y, radius)[1] == expected_path

    # Steps far apart and one step of y moved a little: the warping path is the diagonal and the
    # distance the square root of that one cell's cost, so a cost summed in another order than
    # feature by feature shows in the bits (which a sum over a whole path mostly hides).
    @pytest.mark.parametrize("d", [2, 3, 4, 5, 8])
    def test_one_moved_step_shows_its_cost(self, d):
        rng = np.random.default_rng(d)
        for _ in range(40):
            x = rng.normal(size=(12, d)) * 1e3
            y = x.copy()
            y[rng.integers(12)] += rng.normal(size=d) * 2.0 ** rng.integers(-8, 4, size=d)
            expected = reference_dtw(x.tolist(), y.tolist(), None)
            assert_same_float(_rust_core.dtw(x, y, None), expected)
            assert_same_float(_rust_core.dtw_with_path_py(x, y, None)[0], expected)

    @settings(max_examples=60, deadline=None)
    @given(st.integers(1, 6), st.integers(1, 6), st.integers(1, 4), RADII, st.data())
    def test_narrower_y_fails_like_the_cost_matrix(self, n, m, d, radius, data):
        x = data.draw(arrays((n, d)))
        y = data.draw(arrays((m, data.draw(st.integers(0, d - 1)))))
        with pytest.raises(IndexFailure):
            reference_dtw(x.tolist(), y.tolist(), radius)
        for function in (_rust_core.dtw, _rust_core.dtw_with_path_py):
            assert panic_message(lambda: function(x, y, radius)) == ("ndarray: index out of bounds",)

    @pytest.mark.parametrize("n, m", [(40, 40), (17, 61), (61, 17), (2, 50), (50, 1)])
    @pytest.mark.parametrize("radius", [None, 0, 1, 3, 7])
    @pytest.mark.parametrize("d", [2, 5])
    def test_longer_series_in_the_band(self, n, m, radius, d):
        rng = np.random.default_rng(n * 1000 + m)
        x, y = rng.normal(size=(n, d)), rng.normal(size=(m, d + 1))
        expected_distance, expected_path = reference_path(x.tolist(), y.tolist(), radius)
        distance, path = _rust_core.dtw_with_path_py(x, y, radius)
        assert_same_float(distance, expected_distance)
        assert path == expected_path
        assert_same_float(_rust_core.dtw(x, y, radius), expected_distance)


class TestWorkedExamples:
    def test_three_against_two_steps(self):
        x, y = np.array([[0.0], [1.0], [2.0]]), np.array([[0.0], [2.0]])
        assert_same_float(_rust_core.dtw(x, y, None), 1.0)
        assert _rust_core.dtw_with_path_py(x, y, None) == (1.0, [(0, 0), (1, 0), (2, 1)])

    @pytest.mark.parametrize(
        "n, m, radius, distance, path",
        [
            (3, 5, 0, INF, None),
            (1, 4, 1, INF, [(0, 3)]),
            (0, 0, None, 0.0, []),
            (0, 3, None, INF, []),
            (4, 0, 2, INF, []),
        ],
    )
    def test_shapes_and_bands(self, n, m, radius, distance, path):
        x, y = np.zeros((n, 1)), np.zeros((m, 1))
        assert_same_float(_rust_core.dtw(x, y, radius), distance)
        result = _rust_core.dtw_with_path_py(x, y, radius)
        assert type(result) is tuple and type(result[1]) is list
        assert_same_float(result[0], distance)
        if path is not None:
            assert result[1] == path

    def test_series_with_itself(self):
        x = np.random.default_rng(5).normal(size=(9, 3))
        for radius in (None, 0, 2):
            assert _rust_core.dtw_with_path_py(x, x, radius) == (0.0, [(i, i) for i in range(9)])

    def test_no_features_gives_zero_whatever_y(self):
        assert_same_float(_rust_core.dtw(np.ones((3, 0)), np.full((5, 2), np.nan), None), 0.0)

    def test_radius_zero_is_the_euclidean_distance(self):
        rng = np.random.default_rng(6)
        x, y = rng.normal(size=(12, 2)), rng.normal(size=(12, 2))
        total = 0.0
        for a, b in zip(x.tolist(), y.tolist()):
            total += (a[0] - b[0]) ** 2 + (a[1] - b[1]) ** 2
        assert_same_float(_rust_core.dtw(x, y, 0), math.sqrt(total))

    @pytest.mark.parametrize("where, expected", [(0, INF), (4, INF), (7, math.nan)])
    @pytest.mark.parametrize("series", ["x", "y"])
    def test_nan_step(self, where, expected, series):
        rng = np.random.default_rng(7)
        x, y = rng.normal(size=(8, 2)), rng.normal(size=(8, 2))
        (x if series == "x" else y)[where, 1] = np.nan
        assert_same_float(_rust_core.dtw(x, y, None), expected)

    def test_long_series_without_band_need_little_memory(self):
        # Every cost is 1, so the cheapest alignment is the diagonal: n cells. A full matrix of
        # the 20000 x 20000 cells would need gigabytes; the recurrence keeps one row.
        code = (
            "import resource, numpy as np, _rust_core\n"
            "before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss\n"
            "value = _rust_core.dtw(np.zeros((20000, 1)), np.ones((20000, 1)), None)\n"
            "print(value, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before)\n"
        )
        value, grown_kib = run_with_env(code).split()
        assert float(value) == math.sqrt(20000.0)
        assert int(grown_kib) < 20 * 1024


# --- distance matrix ---------------------------------------------------------------------------


@st.composite
def series_sets(draw):
    n_x, n_y = draw(st.integers(0, 5)), draw(st.integers(0, 19))
    sz_x, sz_y = draw(st.integers(0, 10)), draw(st.integers(0, 10))
    d = draw(st.integers(0, 3))
    return draw(arrays((n_x, sz_x, d))), draw(arrays((n_y, sz_y, d + draw(st.integers(0, 1)))))


def expected_matrix(x, y, radius):
    return np.array([[_rust_core.dtw(a, b, radius) for b in y] for a in x]).reshape(len(x), len(y))


class TestCdist:
    @settings(max_examples=120, deadline=None)
    @given(series_sets(), RADII)
    def test_entries_are_dtw(self, sets, radius):
        x, y = sets
        assert_same_array(_rust_core.cdist_dtw(x, y, radius), expected_matrix(x, y, radius))

    @settings(max_examples=40, deadline=None)
    @given(st.integers(1, 3), st.integers(1, 19), st.integers(1, 9), st.integers(1, 2), RADII, st.data())
    def test_finite_values_that_overflow(self, n_x, n_y, steps, d, radius, data):
        x = data.draw(arrays((n_x, steps, d), elements=OVERFLOWING))
        y = data.draw(arrays((n_y, steps + data.draw(st.integers(-1, 1)), d), elements=OVERFLOWING))
        assert_same_array(_rust_core.cdist_dtw(x, y, radius), expected_matrix(x, y, radius))

    @settings(max_examples=60, deadline=None)
    @given(st.integers(0, 19), st.integers(1, 9), st.integers(1, 3), RADII, st.data())
    def test_same_array_twice(self, count, steps, d, radius, data):
        x = data.draw(arrays((count, steps, d)))
        assert_same_array(_rust_core.cdist_dtw(x, x, radius), expected_matrix(x, x, radius))

    def test_other_sets_are_not_taken_for_the_same_set(self):
        rng = np.random.default_rng(8)
        x = rng.normal(size=(7, 7, 2))
        same_shape_and_layout = rng.normal(size=(7, 7, 2))
        same_start_and_shape = x.transpose(1, 0, 2)
        for other in (same_shape_and_layout, same_start_and_shape, x[:5], x[::-1], x[:, ::-1], relayout(x, "fortran")):
            assert_same_array(_rust_core.cdist_dtw(x, other, 1), expected_matrix(x, other, 1))
            assert_same_array(_rust_core.cdist_dtw(other, x, None), expected_matrix(other, x, None))

    def test_reference_on_a_small_matrix(self):
        rng = np.random.default_rng(9)
        x, y = rng.normal(size=(3, 7, 2)), rng.normal(size=(4, 5, 2))
        expected = [[reference_dtw(a.tolist(), b.tolist(), 2) for b in y] for a in x]
        assert_same_array(_rust_core.cdist_dtw(x, y, 2), expected)

    @pytest.mark.parametrize("x_shape, y_shape", [((0, 4, 2), (3, 4, 2)), ((3, 4, 2), (0, 4, 1)), ((0, 0, 0), (0, 0, 0))])
    def test_empty_sets(self, x_shape, y_shape):
        result = _rust_core.cdist_dtw(np.ones(x_shape), np.ones(y_shape), None)
        assert_same_array(result, np.zeros((x_shape[0], y_shape[0])))

    @pytest.mark.parametrize("sz_x, sz_y, value", [(0, 0, 0.0), (0, 3, INF), (3, 0, INF)])
    def test_empty_series(self, sz_x, sz_y, value):
        result = _rust_core.cdist_dtw(np.ones((2, sz_x, 1)), np.ones((3, sz_y, 1)), 1)
        assert_same_array(result, np.full((2, 3), value))

    def test_narrower_y_fails_once(self):
        x, y = np.ones((6, 5, 2)), np.ones((9, 4, 1))
        assert panic_message(lambda: _rust_core.cdist_dtw(x, y, None)) == ("ndarray: index out of bounds",)
        assert_same_array(_rust_core.cdist_dtw(x[:0], y, None), np.zeros((0, 9)))


# --- every SIMD path and worker count gives the same bits ------------------------------------------

MATRICES_SCRIPT = """
import sys, numpy as np, _rust_core
rng = np.random.default_rng(11)
out = []
for d, finite, radius in [(1, True, None), (1, False, 2), (3, True, 1), (2, False, None), (0, True, 3)]:
    for n_y in (1, 3, 4, 5, 8, 9, 16, 17, 23):
        x, y = rng.normal(size=(3, 21, d)), rng.normal(size=(n_y, 17, d + 1))
        if not finite:
            for a in (x, y):
                a.reshape(-1)[rng.integers(0, a.size, 3)] = [np.nan, np.inf, 1e308]
        out.append(_rust_core.cdist_dtw(x, y, radius))
        out.append(_rust_core.cdist_dtw(y, y, radius))
sys.stdout.write(b"".join(m.tobytes() for m in out).hex())
"""


def run_with_env(code_or_args, **env):
    return run_python(code_or_args, **env).stdout


@pytest.mark.skipif(IN_SUBRUN, reason="already inside a forced-path run")
class TestPathsAndWorkers:
    def test_every_simd_path_gives_the_same_bits(self):
        outputs = {path: run_with_env(MATRICES_SCRIPT, RC_SIMD=path) for path in running_targets()}
        assert len(set(outputs.values())) == 1

    @pytest.mark.parametrize("path", simd_targets())
    def test_matrix_tests_on_each_simd_path(self, path):
        here = os.path.dirname(__file__)
        run_with_env(
            ["-m", "pytest", "-q", "-x", "-p", "no:cacheprovider", os.path.join(here, "test_dtw.py"), "-k", "TestCdist"],
            RC_SIMD=path,
            DTW_TEST_SUBRUN="1",
        )

    def test_worker_count_does_not_change_the_matrix(self):
        one = run_with_env(MATRICES_SCRIPT, RAYON_NUM_THREADS="1")
        three = run_with_env(MATRICES_SCRIPT, RAYON_NUM_THREADS="3")
        assert one == three
