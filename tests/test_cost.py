import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import _rust_core
from helpers import PanicException, arrays, assert_same_array, float64s_from_script, relayout
from reference_cost import IndexFailure, cost_matrix


@st.composite
def series_pairs(draw):
    n, m = draw(st.integers(0, 12)), draw(st.integers(0, 12))
    d = draw(st.integers(0, 4))
    e = draw(st.integers(d, d + 2))
    return draw(arrays((n, d))), draw(arrays((m, e)))


@settings(max_examples=300, deadline=None)
@given(series_pairs())
def test_matches_reference_bit_for_bit(pair):
    x, y = pair
    expected = cost_matrix(x.tolist(), y.tolist())
    assert_same_array(_rust_core.squared_euclidean_cost_matrix(x, y), np.array(expected).reshape(len(x), len(y)))


@settings(max_examples=100, deadline=None)
@given(st.integers(1, 6), st.integers(1, 6), st.integers(1, 4), st.data())
def test_narrower_y_fails(n, m, d, data):
    x = data.draw(arrays((n, d)))
    y = data.draw(arrays((m, data.draw(st.integers(0, d - 1)))))
    with pytest.raises(IndexFailure):
        cost_matrix(x.tolist(), y.tolist())
    try:
        _rust_core.squared_euclidean_cost_matrix(x, y)
    except PanicException as e:
        assert e.args == ("ndarray: index out of bounds",)
    else:
        raise AssertionError("no failure for a y narrower than x")


def test_small_example():
    x = np.array([[0.0, 1.0], [2.0, 3.0], [4.0, 5.0]])
    y = np.array([[1.0, 1.0], [0.0, 0.0], [3.0, -1.0], [2.0, 2.0]])
    expected = [[(a[0] - b[0]) ** 2 + (a[1] - b[1]) ** 2 for b in y.tolist()] for a in x.tolist()]
    assert_same_array(_rust_core.squared_euclidean_cost_matrix(x, y), expected)


@pytest.mark.parametrize(
    "x_shape, y_shape, expected_shape",
    [((0, 3), (4, 1), (0, 4)), ((3, 2), (0, 0), (3, 0)), ((0, 0), (0, 0), (0, 0))],
)
def test_empty_series_give_empty_matrix(x_shape, y_shape, expected_shape):
    result = _rust_core.squared_euclidean_cost_matrix(np.ones(x_shape), np.ones(y_shape))
    assert_same_array(result, np.zeros(expected_shape))


def test_no_features_gives_zeros_whatever_y():
    result = _rust_core.squared_euclidean_cost_matrix(np.ones((3, 0)), np.ones((2, 0)))
    assert_same_array(result, np.zeros((3, 2)))


def test_extra_columns_of_y_are_ignored():
    rng = np.random.default_rng(1)
    x, y = rng.normal(size=(2, 3)), rng.normal(size=(2, 5))
    y_extra = y.copy()
    y_extra[:, 3:] = np.nan
    assert_same_array(
        _rust_core.squared_euclidean_cost_matrix(x, y_extra), _rust_core.squared_euclidean_cost_matrix(x, y[:, :3])
    )


def test_self_cost_has_zero_diagonal_and_swapping_transposes():
    rng = np.random.default_rng(2)
    x, y = rng.normal(size=(6, 3)), rng.normal(size=(4, 3))
    assert np.all(np.diag(_rust_core.squared_euclidean_cost_matrix(x, x)) == 0.0)
    assert_same_array(
        _rust_core.squared_euclidean_cost_matrix(y, x), _rust_core.squared_euclidean_cost_matrix(x, y).T
    )


@pytest.mark.parametrize("layout", ["fortran", "reversed", "strided"])
def test_layouts_read_like_c_order(layout):
    rng = np.random.default_rng(3)
    x, y = rng.normal(size=(7, 3)), rng.normal(size=(5, 4))
    expected = _rust_core.squared_euclidean_cost_matrix(x, y)
    assert_same_array(_rust_core.squared_euclidean_cost_matrix(relayout(x, layout), relayout(y, layout)), expected)
    assert_same_array(_rust_core.squared_euclidean_cost_matrix(x.T.copy().T, y[::-1][::-1]), expected)


def test_series_too_wide_to_copy_are_read_in_place():
    # 5 steps of 2**20 features exceed the feature copy the fast rows use (and the result), so y
    # is read in place: ones against zeros, 2**20 features, every cell exactly 2**20.
    x, y = np.broadcast_to(0.0, (1, 2**20)), np.broadcast_to(1.0, (5, 2**20))
    assert_same_array(_rust_core.squared_euclidean_cost_matrix(x, y), np.full((1, 5), 2.0**20))


SCALAR_SCRIPT = """
import sys, numpy as np, _rust_core
rng = np.random.default_rng(8)
x, y = rng.normal(size=(37, 5)), rng.normal(size=(23, 6)) * 4.0
x[3, 2], y[7, 4] = np.nan, np.inf
sys.stdout.write(_rust_core.squared_euclidean_cost_matrix(x, y).tobytes().hex())
"""


def test_baseline_rows_match_the_reference():
    # The default run may take the AVX2 rows; RC_SIMD=baseline takes the baseline ones.
    actual = float64s_from_script(SCALAR_SCRIPT, RC_SIMD="baseline").reshape(37, 23)
    rng = np.random.default_rng(8)
    x, y = rng.normal(size=(37, 5)), rng.normal(size=(23, 6)) * 4.0
    x[3, 2], y[7, 4] = np.nan, np.inf
    assert_same_array(actual, np.array(cost_matrix(x.tolist(), y.tolist())))
