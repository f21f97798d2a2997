import hashlib
import math
import os
import pickle

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st
from hypothesis.extra import numpy as hnp

import _rust_core
from helpers import (LAYOUTS, PanicException, assert_same_array, finite, relayout, run_python, running_targets,
                     special, to_lists)
import reference_niching as ref

associate = _rust_core.associate_to_niches_py


def assert_matches_reference(f, ref_dirs, ideal, nadir):
    try:
        expected = ref.associate_to_niches(to_lists(f), f.shape[1], to_lists(ref_dirs), to_lists(ideal),
                                           to_lists(nadir))
    except ref.Failure as failure:
        with pytest.raises(PanicException, match=f"^{failure}$"):
            associate(f, ref_dirs, ideal, nadir)
        return
    try:
        niches, distances = associate(f, ref_dirs, ideal, nadir)
    except PanicException as e:  # a BaseException: hypothesis would not report it
        raise AssertionError(f"unexpected failure {e}") from None
    assert_same_array(niches, expected[0], dtype=np.int64)
    assert_same_array(distances, expected[1])


# --- worked example and edge cases ------------------------------------------------------------

def test_point_on_the_diagonal_joins_the_diagonal_direction():
    niches, distances = associate(np.array([[1.0, 1.0]]), np.array([[1.0, 0.0], [0.0, 1.0], [0.5, 0.5]]),
                                  np.array([0.0, 0.0]), np.array([1.0, 1.0]))
    assert_same_array(niches, [2], dtype=np.int64)
    assert_same_array(distances, [0.0])


def test_equidistant_directions_go_to_the_lower_index():
    # (1, 1) is at distance 1 from both axes; the diagonal comes last and loses to neither.
    niches, _ = associate(np.array([[1.0, 1.0]]), np.array([[0.0, 1.0], [1.0, 0.0], [-1.0, 1.0]]),
                          np.zeros(2), np.ones(2))
    assert_same_array(niches, [0], dtype=np.int64)


def test_no_objectives_means_distance_zero_to_direction_zero():
    niches, distances = associate(np.empty((3, 0)), np.ones((4, 2)), np.empty(0), np.empty(0))
    assert_same_array(niches, [0, 0, 0], dtype=np.int64)
    assert_same_array(distances, [0.0, 0.0, 0.0])


def test_no_solutions_ignores_ideal_and_nadir():
    niches, distances = associate(np.empty((0, 3)), np.ones((2, 3)), np.empty(0), np.empty(1))
    assert_same_array(niches, [], dtype=np.int64)
    assert_same_array(distances, [])


@pytest.mark.parametrize("shape_f, shape_dirs, ideal_len, nadir_len", [
    ((2, 3), (4, 3), 2, 3),   # ideal too short
    ((2, 3), (4, 3), 3, 2),   # nadir too short
    ((2, 3), (4, 2), 3, 3),   # directions too narrow
    ((0, 3), (4, 2), 0, 0),   # ... even without solutions
    ((2, 3), (0, 3), 3, 3),   # no directions
    ((2, 0), (0, 0), 0, 0),
])
def test_failures(shape_f, shape_dirs, ideal_len, nadir_len):
    with pytest.raises(PanicException, match="^ndarray: index out of bounds$"):
        associate(np.ones(shape_f), np.ones(shape_dirs), np.zeros(ideal_len), np.ones(nadir_len))


# --- generated inputs against the reference ---------------------------------------------------

# Mostly finite, so that most rows have a real nearest direction; NaN and infinities now and then.
# (one_of would merge repeated branches, so the odds are drawn explicitly.)
values = st.tuples(st.integers(0, 29), finite, special).map(lambda t: t[2] if t[0] == 0 else t[1])


@st.composite
def niching_inputs(draw, elements=values):
    m = draw(st.integers(0, 6))
    n = draw(st.integers(0, 4))
    directions = draw(st.integers(0, 19))  # covers every remainder of 4- and 8-lane blocks
    columns = max(0, n + draw(st.sampled_from([0, 0, 0, 0, 1, 2, -1])))
    # Rows drawn from a small pool, so duplicate directions (exact ties) are common.
    pool = draw(hnp.arrays(np.float64, (3, columns), elements=elements))
    picks = draw(st.lists(st.integers(0, 2 + directions), min_size=directions, max_size=directions))
    fresh = draw(hnp.arrays(np.float64, (directions, columns), elements=elements))
    ref_dirs = np.array([pool[p] if p < 3 else fresh[i] for i, p in enumerate(picks)]).reshape(directions, columns)
    f = draw(hnp.arrays(np.float64, (m, n), elements=elements))
    lengths = [max(0, n + draw(st.sampled_from([0, 0, 0, 0, 0, 1, -1]))) for _ in range(2)]
    ideal = draw(hnp.arrays(np.float64, (lengths[0],), elements=elements))
    nadir = draw(hnp.arrays(np.float64, (lengths[1],), elements=elements))
    return tuple(relayout(a, draw(st.sampled_from(LAYOUTS))) for a in (f, ref_dirs, ideal, nadir))


@settings(max_examples=400, deadline=None)
@given(niching_inputs())
def test_matches_reference(inputs):
    assert_matches_reference(*inputs)


@settings(max_examples=200, deadline=None)
@given(niching_inputs(elements=st.integers(-2, 2).map(float)))
def test_matches_reference_with_many_ties(inputs):
    assert_matches_reference(*inputs)


@st.composite
def spread_inputs(draw):
    """Well spread random data (hypothesis alone tends to make every direction tie with
    direction 0), with an occasional special value and a collapsed objective range."""
    rng = np.random.default_rng(draw(st.integers(0, 2**32 - 1)))
    m, n, directions = draw(st.integers(1, 8)), draw(st.integers(1, 6)), draw(st.integers(1, 40))
    f = rng.normal(size=(m, n))
    ref_dirs = np.abs(rng.normal(size=(directions, n + draw(st.integers(0, 1)))))
    ideal = rng.normal(size=n) - 2.0
    nadir = ideal + rng.choice([0.0, 0.5, 3.0], size=n)
    for a in (f, ref_dirs):
        a[rng.random(a.shape) < 0.02] = rng.choice([np.nan, np.inf, -np.inf, 0.0])
    return tuple(relayout(a, draw(st.sampled_from(LAYOUTS))) for a in (f, ref_dirs, ideal, nadir))


@settings(max_examples=200, deadline=None)
@given(spread_inputs())
def test_matches_reference_on_spread_data(inputs):
    assert_matches_reference(*inputs)


def near_tie_case(seed):
    """One point and many positive multiples of one direction: every distance is the same up to
    rounding, so distinct sums whose square roots coincide are common."""
    rng = np.random.default_rng(seed)
    n = int(rng.integers(2, 6))
    f = rng.random((1, n))
    ref_dirs = rng.random(n) * rng.uniform(0.5, 4.0, (int(rng.integers(5, 40)), 1))
    return f, ref_dirs, np.zeros(n), np.ones(n)


def test_ties_are_decided_on_the_square_roots():
    exercised = 0
    for seed in range(300):
        f, ref_dirs, ideal, nadir = near_tie_case(seed)
        assert_matches_reference(f, ref_dirs, ideal, nadir)
        # Count the cases where the direction with the smallest sum is not the winner.
        n = f.shape[1]
        sums = [ref.squared_distance_parts(list(f[0]), list(w), max(sum(x * x for x in w), 1e-14))
                for w in ref_dirs.tolist()]
        exercised += int(np.argmin(sums)) != int(associate(f, ref_dirs, ideal, nadir)[0][0])
    assert exercised > 0


# --- the same bits on every instruction-set path and for any worker count ---------------------

def path_cases():
    rng = np.random.default_rng(7)
    cases = [near_tie_case(seed) for seed in range(40)]
    # Every objective count with a kernel of its own (2-6, 8, 10) and some without (1, 7, 12).
    shapes = [(9, 1, 8), (6, 2, 11), (33, 3, 17), (10, 4, 5), (50, 5, 91), (10, 6, 13), (40, 7, 23), (15, 8, 21),
              (12, 10, 30), (20, 12, 9)]
    for m, n, directions in shapes:
        f = rng.random((m, n))
        f[rng.random((m, n)) < 0.05] = np.nan
        ref_dirs = rng.random((directions, n))
        if n % 2:
            ref_dirs = np.round(ref_dirs, 1)  # coarse: duplicates and ties
        ref_dirs[rng.random((directions, n)) < 0.05] = rng.choice([np.inf, -np.inf, np.nan, 0.0])
        cases.append((f, ref_dirs, np.zeros(n), np.ones(n)))
    big = rng.random((2000, 5)), rng.random((300, 5)), np.zeros(5), np.ones(5)
    return cases, big


CHILD = """
import pickle, sys
sys.path.insert(0, {tests!r})
import _rust_core, test_niching
cases, big = test_niching.path_cases()
results = [tuple(a.tobytes() for a in _rust_core.associate_to_niches_py(*c)) for c in cases + [big]]
sys.stdout.buffer.write(pickle.dumps(results))
"""


def results_in_subprocess(simd, threads):
    out = run_python(CHILD.format(tests=os.path.dirname(__file__)), text=False, RC_SIMD=simd,
                     RAYON_NUM_THREADS=str(threads)).stdout
    return pickle.loads(out)


def test_every_path_and_worker_count_gives_the_reference_bits():
    cases, _ = path_cases()
    expected = []
    for f, ref_dirs, ideal, nadir in cases:
        niches, distances = ref.associate_to_niches(to_lists(f), f.shape[1], to_lists(ref_dirs), to_lists(ideal),
                                                    to_lists(nadir))
        expected.append((np.array(niches, np.int64).tobytes(), np.array(distances).tobytes()))
    runs = {(simd, threads): results_in_subprocess(simd, threads)
            for simd in running_targets() for threads in (1, 3)}
    baseline = runs[("baseline", 1)]
    for key, results in runs.items():
        # NaN results here are NaN inputs propagated unchanged, so bytes compare exactly.
        assert results[:-1] == expected, key
        assert results[-1] == baseline[-1], key
