import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _rust_core
from helpers import PanicException, arrays, assert_same_array, assert_same_float, values
from reference_ieee import IndexFailure
from reference_soft_dtw import soft_dtw as reference_soft_dtw

# Ordinary smoothing values and every kind of value the arithmetic must pass through unchecked.
gammas = st.one_of(
    st.floats(0.01, 10.0),
    st.sampled_from([0.0, -0.0, -1.0, -0.3, math.inf, -math.inf, math.nan, 1e308, 5e-324, 1e-300]),
)


def series(rows, cols):
    return arrays((rows, cols))


def expect_like_reference(call, reference):
    try:
        expected = reference()
    except IndexFailure:
        with pytest.raises(PanicException, match="^ndarray: index out of bounds$"):
            call()
        return
    assert_same_float(call(), expected)


@pytest.mark.parametrize(
    "x, y, gamma, expected",
    [
        ([[0.0], [0.0]], [[0.0], [0.0]], 1.0, -math.log(3.0)),  # three warping paths of cost 0
        ([[0.0]], [[1.0]], 1.0, 1.0),
        ([[0.0]], [[1.0]], 0.25, 1.0),
        ([[0.0]], [[1.0]], 123.0, 1.0),
    ],
)
def test_worked_examples(x, y, gamma, expected):
    assert_same_float(_rust_core.soft_dtw(np.array(x), np.array(y), gamma), expected)


@pytest.mark.parametrize(
    "n, m, expected", [(0, 0, 0.0), (0, 3, math.inf), (3, 0, math.inf)]
)
def test_empty_series(n, m, expected):
    # An empty series never reads the other's columns, so a narrower y does not fail here.
    assert_same_float(_rust_core.soft_dtw(np.ones((n, 2)), np.ones((m, 1)), 1.0), expected)


def test_gamma_zero_and_nan_input_give_nan():
    a = np.arange(6.0).reshape(3, 2)
    assert math.isnan(_rust_core.soft_dtw(a, a, 0.0))
    b = a.copy()
    b[0, 1] = math.nan
    assert math.isnan(_rust_core.soft_dtw(a, b, 1.0))


def test_gamma_int_is_accepted_as_float():
    a = np.arange(4.0).reshape(2, 2)
    assert_same_float(_rust_core.soft_dtw(a, a, gamma=1), _rust_core.soft_dtw(a, a, 1.0))


def test_narrower_y_fails():
    with pytest.raises(PanicException, match="^ndarray: index out of bounds$"):
        _rust_core.soft_dtw(np.ones((2, 3)), np.ones((2, 2)), 1.0)


@settings(max_examples=300, deadline=None)
@given(st.data(), st.integers(0, 7), st.integers(0, 7), st.integers(0, 3), st.integers(-1, 1), gammas)
def test_matches_reference(data, n, m, d, extra_cols, gamma):
    x = data.draw(series(n, d))
    y = data.draw(series(m, max(0, d + extra_cols)))
    try:
        expect_like_reference(lambda: _rust_core.soft_dtw(x, y, gamma), lambda: reference_soft_dtw(x, y, gamma))
    except PanicException as e:  # BaseException: hypothesis would not report it otherwise
        raise AssertionError(f"unexpected internal failure: {e}") from None


@settings(max_examples=60, deadline=None)
@given(st.data(), st.integers(0, 9), st.integers(0, 9), st.integers(0, 5), st.integers(0, 5),
       st.integers(1, 2), gammas)
def test_cdist_entries_equal_single_pairs(data, nx, ny, sx, sy, d, gamma):
    # Up to 9 series per set covers full groups of pairs computed together plus every remainder.
    x = data.draw(arrays((nx, sx, d)))
    y = data.draw(arrays((ny, sy, d)))
    try:
        expected = [[_rust_core.soft_dtw(x[i], y[j], gamma) for j in range(ny)] for i in range(nx)]
        assert_same_array(_rust_core.cdist_soft_dtw(x, y, gamma), np.array(expected).reshape(nx, ny))
    except PanicException as e:
        raise AssertionError(f"unexpected internal failure: {e}") from None


def test_cdist_matches_reference():
    rng = np.random.default_rng(3)
    x = rng.standard_normal((3, 5, 2))
    y = rng.standard_normal((5, 4, 2))
    expected = [[reference_soft_dtw(a, b, 0.7) for b in y] for a in x]
    assert_same_array(_rust_core.cdist_soft_dtw(x, y, 0.7), expected)


@pytest.mark.parametrize("nx, ny", [(0, 3), (3, 0), (0, 0)])
def test_cdist_empty_sets(nx, ny):
    result = _rust_core.cdist_soft_dtw(np.ones((nx, 4, 2)), np.ones((ny, 3, 1)), 1.0)
    assert_same_array(result, np.empty((nx, ny)))


def test_cdist_narrower_y_fails():
    with pytest.raises(PanicException, match="^ndarray: index out of bounds$"):
        _rust_core.cdist_soft_dtw(np.ones((2, 3, 2)), np.ones((5, 3, 1)), 1.0)
