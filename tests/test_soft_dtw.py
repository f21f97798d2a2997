import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _rust_core
from helpers import PanicException, arrays, assert_same_array, assert_same_float
from reference_ieee import IndexFailure
from reference_soft_dtw import soft_dtw as reference_soft_dtw

OUT_OF_BOUNDS = "^ndarray: index out of bounds$"
# Ordinary smoothing values and every kind of value the arithmetic must pass through unchecked.
gammas = st.one_of(
    st.floats(0.01, 10.0),
    st.sampled_from([0.0, -0.0, -1.0, -0.3, math.inf, -math.inf, math.nan, 1e308, 5e-324, 1e-300]),
)


@pytest.mark.parametrize(
    "x, y, gamma, expected",
    [
        (np.zeros((2, 1)), np.zeros((2, 1)), 1.0, -math.log(3.0)),  # three warping paths of cost 0
        (np.array([[0.0]]), np.array([[1.0]]), 1.0, 1.0),
        (np.array([[0.0]]), np.array([[1.0]]), 0.25, 1.0),
        (np.ones((0, 2)), np.ones((0, 1)), 1.0, 0.0),  # empty series never read y's columns
        (np.ones((0, 2)), np.ones((3, 1)), 1.0, math.inf),
        (np.ones((3, 2)), np.ones((0, 1)), 1.0, math.inf),
        (np.arange(6.0).reshape(3, 2), np.arange(6.0).reshape(3, 2), 0.0, math.nan),
        (np.array([[0.0], [math.nan]]), np.zeros((3, 1)), 1.0, math.nan),
    ],
)
def test_examples(x, y, gamma, expected):
    assert_same_float(_rust_core.soft_dtw(x, y, gamma), expected)
    assert_same_float(reference_soft_dtw(x, y, gamma), expected)


def test_gamma_int_is_accepted_as_float():
    a = np.arange(4.0).reshape(2, 2)
    assert_same_float(_rust_core.soft_dtw(a, a, gamma=1), _rust_core.soft_dtw(a, a, 1.0))


def test_narrower_y_fails():
    with pytest.raises(PanicException, match=OUT_OF_BOUNDS):
        _rust_core.soft_dtw(np.ones((2, 3)), np.ones((2, 2)), 1.0)
    with pytest.raises(PanicException, match=OUT_OF_BOUNDS):
        _rust_core.cdist_soft_dtw(np.ones((2, 3, 2)), np.ones((5, 3, 1)), 1.0)


@settings(max_examples=300, deadline=None)
@given(st.data(), st.integers(0, 7), st.integers(0, 7), st.integers(0, 3), st.integers(-1, 1), gammas)
def test_matches_reference(data, n, m, d, extra_cols, gamma):
    x = data.draw(arrays((n, d)))
    y = data.draw(arrays((m, max(0, d + extra_cols))))
    try:
        try:
            expected = reference_soft_dtw(x, y, gamma)
        except IndexFailure:
            with pytest.raises(PanicException, match=OUT_OF_BOUNDS):
                _rust_core.soft_dtw(x, y, gamma)
            return
        assert_same_float(_rust_core.soft_dtw(x, y, gamma), expected)
    except PanicException as e:  # BaseException: hypothesis would not report it otherwise
        raise AssertionError(f"unexpected internal failure: {e}") from None


@settings(max_examples=60, deadline=None)
@given(st.data(), st.integers(0, 9), st.integers(0, 9), st.integers(0, 5), st.integers(0, 5),
       st.integers(1, 2), gammas)
def test_cdist_entries_equal_single_pairs(data, nx, ny, sx, sy, d, gamma):
    # Up to 9 series per set: full groups of pairs computed together plus every remainder.
    x = data.draw(arrays((nx, sx, d)))
    y = data.draw(arrays((ny, sy, d)))
    try:
        expected = [[_rust_core.soft_dtw(x[i], y[j], gamma) for j in range(ny)] for i in range(nx)]
        assert_same_array(_rust_core.cdist_soft_dtw(x, y, gamma), np.array(expected).reshape(nx, ny))
    except PanicException as e:
        raise AssertionError(f"unexpected internal failure: {e}") from None


@pytest.mark.parametrize("nx, ny", [(0, 3), (3, 0), (0, 0)])
def test_cdist_empty_sets(nx, ny):
    result = _rust_core.cdist_soft_dtw(np.ones((nx, 4, 2)), np.ones((ny, 3, 1)), 1.0)
    assert_same_array(result, np.empty((nx, ny)))
