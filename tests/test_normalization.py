import math

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st
from hypothesis.extra import numpy as hnp

import _rust_core
from helpers import LAYOUTS, PanicException, assert_same_array, relayout, special, to_lists
import reference_normalization as ref

normalize = _rust_core.normalization_update_py


def run_reference(ideal_point, f, front, n_dim):
    return ref.normalization_update(to_lists(ideal_point), to_lists(f), f.shape[1], front.tolist(), n_dim)


def assert_matches_reference(ideal_point, f, front, n_dim):
    try:
        expected = run_reference(ideal_point, f, front, n_dim)
    except ref.Failure as failure:
        with pytest.raises(PanicException, match=f"^{failure}$"):
            normalize(ideal_point, f, front, n_dim)
        return
    try:
        ideal, nadir = normalize(ideal_point, f, front, n_dim)
    except PanicException as e:  # a BaseException: hypothesis would not report it
        raise AssertionError(f"unexpected failure {e}") from None
    assert_same_array(ideal, expected[0])
    assert_same_array(nadir, expected[1])


def call(ideal_point, f, front, n_dim):
    return normalize(np.asarray(ideal_point, float), np.asarray(f, float), np.asarray(front, np.int64), n_dim)


def relayout_indices(a, layout):
    """relayout for int64 vectors (the shared helper pads with NaN, which needs floats)."""
    if layout != "strided":
        return relayout(a, layout)
    big = np.full(2 * len(a) + 1, -99, dtype=np.int64)
    big[1::2] = a
    return big[1::2]


# --- worked examples and the rules of the hyperplane step ------------------------------------

def test_three_axis_front_gives_its_intercepts():
    f = [[2.0, 0.0, 0.0], [0.0, 3.0, 0.0], [0.0, 0.0, 4.0]]
    ideal, nadir = call([0.0, 0.0, 0.0], f, [0, 1, 2], 3)
    assert_same_array(ideal, [0.0, 0.0, 0.0])
    assert_same_array(nadir, [2.0, 3.0, 4.0])


# E1 is the extreme point of axis 0, E2 that of axis 1; the ideal is (0, 0). The nadir is
# P + 1/x from the plane through E1 and E2, or, when the plane fails, the front's column maximum
# for every entry, never a mix of the two.
@pytest.mark.parametrize("f, front, expected", [
    # x = (1e-14, 5e-9) passes: intercepts 1/1e-14 and 2e8, not the front's maximum 1e9.
    ([[1e14, 0.0], [0.0, 2e8], [1.0, 1e9]], [0, 1, 2], [1.0 / 1e-14, 2e8]),
    # x[0] = 1/1.01e14 is below 1e-14: the fallback.
    ([[1.01e14, 0.0], [0.0, 2e8], [1.0, 1e9]], [0, 1, 2], [1.01e14, 1e9]),
    # A plane tilted away from axis 0 (intercept -2), then from axis 1 (intercepts 2e6, -2).
    ([[1.0, 3e6], [2.0, 4e6], [0.0, 0.0]], [0, 1], [2.0, 4e6]),
    ([[3e6, 1.0], [4e6, 2.0], [0.0, 0.0]], [0, 1], [4e6, 2.0]),
], ids=["tiny-solution-boundary", "tiny-solution", "negative-first", "negative-second"])
def test_hyperplane_or_column_maximum(f, front, expected):
    _, nadir = call([0.0, 0.0], f, front, 2)
    assert_same_array(nadir, expected)
    assert_matches_reference(np.zeros(2), np.array(f), np.array(front, np.int64), 2)


def test_one_row_extreme_for_every_axis_makes_the_plane_singular():
    f = [[1.0, 2.0], [1.0, 2.0], [0.5, 3.0]]
    _, nadir = call([0.0, 0.0], f, [0, 1], 2)
    assert_same_array(nadir, [1.0, 2.0])


def test_small_front_takes_the_worst_point_from_f():
    f = [[1.0, 5.0], [3.0, math.nan], [2.0, 4.0]]
    ideal, nadir = call([0.5, 9.0], f, [2, 1], 3)
    assert_same_array(ideal, [0.5, 4.0])
    assert_same_array(nadir, [3.0, 4.0])


def test_empty_front_and_empty_population():
    ideal, nadir = call([1.0, 2.0, 7.0], np.empty((0, 2)), [], 1)
    assert_same_array(ideal, [1.0, 2.0, 7.0])
    assert_same_array(nadir, [-math.inf, -math.inf])


def test_no_objectives_gives_an_empty_estimate_on_either_path():
    for n_dim in (0, 5):
        ideal, nadir = call([3.0], np.empty((2, 0)), [1, 0], n_dim)
        assert_same_array(ideal, [3.0])
        assert_same_array(nadir, [])


@pytest.mark.parametrize("ideal_point, rows, front, n_dim, message", [
    ([0.0], 2, [0], 1, "index out of bounds: the len is 1 but the index is 1"),
    ([], 0, [], 1, "index out of bounds: the len is 0 but the index is 0"),
    ([0.0], 2, [7], 1, "index out of bounds: the len is 1 but the index is 1"),  # first check wins
    ([0.0, 0.0], 2, [-1], 1, "ndarray: index out of bounds"),
    ([0.0, 0.0], 2, [2], 5, "ndarray: index out of bounds"),
    ([0.0, 0.0], 2, [0, 5], 1, "ndarray: index out of bounds"),  # before the n_dim check
    ([0.0, 0.0], 2, [0, 1], 1, "ndarray: index out of bounds"),
    ([0.0, 0.0], 2, [], 0, "ndarray: index out of bounds"),
])
def test_failures(ideal_point, rows, front, n_dim, message):
    f = np.arange(2.0 * rows).reshape(rows, 2)
    with pytest.raises(PanicException, match=f"^{message}$"):
        call(ideal_point, f, front, n_dim)


# --- generated inputs against the reference ---------------------------------------------------

# Small integers make ties in the achievement values and in the pivot magnitudes, and exactly
# singular planes; the specials bring NaN and infinities into the ideal, the extremes and LU.
small_ints = st.integers(-3, 3).map(float)
objective = st.one_of(small_ints, small_ints, st.floats(-1e3, 1e3, width=64), special)


@st.composite
def normalization_inputs(draw):
    n = draw(st.integers(0, 4))
    m = draw(st.integers(0, 7))
    f = draw(hnp.arrays(np.float64, (m, n), elements=objective))
    length = n + draw(st.sampled_from([0, 0, 0, 1, 2, -1]))
    ideal_point = draw(hnp.arrays(np.float64, (max(length, 0),), elements=objective))
    valid = st.integers(0, m - 1) if m > 0 else st.nothing()
    bad = st.sampled_from([-1, m, -(2**63)])
    index = st.tuples(st.integers(0, 19), valid, bad).map(lambda t: t[2] if t[0] == 0 else t[1]) if m > 0 else bad
    front = np.array(draw(st.lists(index, max_size=7)), dtype=np.int64)
    n_dim = draw(st.one_of(st.just(n), st.integers(0, 6)))
    layouts = [draw(st.sampled_from(LAYOUTS)) for _ in range(3)]
    return relayout(ideal_point, layouts[0]), relayout(f, layouts[1]), relayout_indices(front, layouts[2]), n_dim


@settings(max_examples=400, deadline=None)
@given(normalization_inputs())
def test_matches_reference(inputs):
    assert_matches_reference(*inputs)


@st.composite
def full_fronts(draw):
    """Whole populations as the front, n_dim = n: the hyperplane path nearly every time."""
    n = draw(st.integers(1, 5))
    m = draw(st.integers(n, n + 4))
    element = st.tuples(st.integers(0, 9), st.one_of(small_ints, st.floats(0, 10, width=64)), special).map(
        lambda t: t[2] if t[0] == 0 else t[1])
    f = draw(hnp.arrays(np.float64, (m, n), elements=element))
    ideal_point = draw(hnp.arrays(np.float64, (n,), elements=st.floats(-1, 1, width=64)))
    front = np.array(draw(st.permutations(range(m))), dtype=np.int64)
    return ideal_point, f, front, n


@settings(max_examples=300, deadline=None)
@given(full_fronts())
def test_hyperplane_matches_reference(inputs):
    assert_matches_reference(*inputs)
