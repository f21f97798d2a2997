import inspect
import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _rust_core
from helpers import (PanicException, arrays, assert_same_array, assert_same_float, float64s_from_script,
                     simd_targets)
from reference_ieee import IndexFailure
from reference_soft_dtw import soft_dtw as reference_soft_dtw

OUT_OF_BOUNDS = "^ndarray: index out of bounds$"
# Ordinary smoothing values and every kind of value the arithmetic must pass through unchecked.
gammas = st.one_of(
    st.floats(0.01, 10.0),
    st.sampled_from([0.0, -0.0, -1.0, -0.3, math.inf, -math.inf, math.nan, 1e308, 5e-324, 1e-300]),
    # Powers of two, whose division the lanes may take as a multiplication by the reciprocal: the
    # extremes of the normal range (reciprocals 2^1022 and the subnormal 2^-1023), a subnormal
    # and a negative one.
    st.sampled_from([1.0, 0.5, 4.0, 2.0**-1022, 2.0**1023, 2.0**-1023, -2.0]),
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
@given(st.data(), st.integers(0, 4), st.one_of(st.integers(0, 9), st.integers(16, 21), st.integers(32, 37)),
       st.integers(0, 5), st.integers(0, 5), st.integers(1, 2), gammas)
def test_cdist_entries_equal_single_pairs(data, nx, ny, sx, sy, d, gamma):
    # Small sets, and sets with a full group of 16 or 32 pairs computed together plus a remainder.
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


# Sets wide enough for full SIMD groups and a remainder, with smoothing values whose terms
# underflow to zero (small gamma) and with NaN and infinite features in some series.
PATH_GAMMAS = (0.7, 0.01, 1e-3, -0.4, 0.0, 1.0, 0.125)


def path_sets():
    rng = np.random.default_rng(3)
    x, y = rng.normal(size=(3, 9, 2)), rng.normal(size=(63, 11, 2)) * 3.0  # 32 + 16 + 8 + 4 + 3
    y[5, 4, 0], y[9, 0, 1], y[40, 3, 0], y[58, 8, 1], x[2, 7, 1] = np.nan, np.inf, np.nan, -np.inf, -np.inf
    # Single pairs whose rows run in strips of 32, 16, 8 and 4 (plus 3 left over), against series
    # as long as the widest strip, shorter than it, and of one step.
    long_x = rng.normal(size=(63, 2)) * 2.0
    pairs = [(long_x, b) for b in (y[0], y[1, :2], y[2, :1], y[5], y[9], rng.normal(size=(32, 2)))]
    pairs += [(long_x[:k], y[3]) for k in (1, 4, 8, 16, 17, 32, 33)]
    return x, y, pairs


PATH_SCRIPT = "import sys, numpy as np, _rust_core\n" + inspect.getsource(path_sets) + f"""
x, y, pairs = path_sets()
out = [_rust_core.cdist_soft_dtw(x, y, gamma) for gamma in {PATH_GAMMAS!r}]
out += [np.array([_rust_core.soft_dtw(a, b, gamma) for a, b in pairs]) for gamma in {PATH_GAMMAS!r}]
sys.stdout.write(b"".join(m.tobytes() for m in out).hex())
"""


@pytest.mark.parametrize("simd", simd_targets())
@pytest.mark.parametrize("libm", ["default", "public"])
def test_every_simd_and_libm_path_matches_the_reference(simd, libm):
    values = float64s_from_script(PATH_SCRIPT, RC_SIMD=simd, RC_LIBM=libm)
    x, y, pairs = path_sets()
    matrices = values[: len(PATH_GAMMAS) * 3 * len(y)].reshape(len(PATH_GAMMAS), 3, len(y))
    singles = values[len(PATH_GAMMAS) * 3 * len(y) :].reshape(len(PATH_GAMMAS), len(pairs))
    for k, gamma in enumerate(PATH_GAMMAS):
        assert_same_array(matrices[k], [[reference_soft_dtw(p, q, gamma) for q in y] for p in x])
        assert_same_array(singles[k], [reference_soft_dtw(a, b, gamma) for a, b in pairs])


def test_series_too_wide_to_copy_read_their_features_in_place():
    # Four series of 5 steps and 2**20 features exceed the feature copy a group of pairs keeps;
    # their costs are read in place. Every cost is 2**20 exactly (ones against zeros), as for one
    # feature 1024 apart, so the results must equal those of the narrow stand-ins.
    wide_x, wide_y = np.broadcast_to(0.0, (1, 5, 2**20)), np.broadcast_to(1.0, (4, 5, 2**20))
    narrow_x, narrow_y = np.zeros((5, 1)), np.full((5, 1), 1024.0)
    expected = reference_soft_dtw(narrow_x, narrow_y, 0.5)
    assert_same_array(_rust_core.cdist_soft_dtw(wide_x, wide_y, 0.5), np.full((1, 4), expected))
    assert_same_float(_rust_core.soft_dtw(wide_x[0], wide_y[0], 0.5), expected)


# Cells the log bracket settles must be the cells the library's log gives. Many cells, of every
# kind the bracket meets: accumulated costs far above ln(s) (irregular series), near it and
# negative (slow walks, where each step subtracts about gamma ln 3), crossing zero, large and
# tiny gammas, a negative one, and sums of exactly 1 (terms far below the minimum).
BRACKET_SCRIPT = """
import sys, numpy as np, _rust_core
rng = np.random.default_rng(17)
sets = [rng.normal(size=(2, 35, 40, 1)), rng.normal(size=(2, 35, 40, 1)).cumsum(axis=2) * 0.05,
        rng.normal(size=(2, 35, 40, 2)) * 30.0, rng.normal(size=(2, 35, 40, 1)) * 1e-3 + 0.2]
out = []
for x, y in sets:
    for gamma in (1.0, 0.3, 7.0, 1e-3, -0.5, 1e150):
        out.append(_rust_core.cdist_soft_dtw(x[:3], y, gamma).ravel())
        out.append(np.array([_rust_core.soft_dtw(np.concatenate(x[:4]), y[k], gamma) for k in range(2)]))
sys.stdout.write(b"".join(m.tobytes() for m in out).hex())
"""


@pytest.mark.parametrize("simd", simd_targets())
def test_cells_settled_by_the_log_bracket_equal_the_library_calls(simd):
    settled = float64s_from_script(BRACKET_SCRIPT, RC_SIMD=simd)
    called = float64s_from_script(BRACKET_SCRIPT, RC_SIMD=simd, RC_LIBM="public")
    assert_same_array(settled, called)
