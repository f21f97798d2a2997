import inspect
import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _rust_core
from helpers import (
    PanicException,
    arrays,
    assert_same_array,
    assert_same_float,
    finite_values,
    float64s_from_script,
    run_python,
    simd_targets,
)
from reference_gak import cdist_gak as reference_cdist_gak
from reference_gak import gak as reference_gak
from reference_gak import log_unnormalized_gak as reference_log_gak
from reference_gak import unnormalized_gak as reference_unnormalized_gak
from reference_ieee import IndexFailure

OUT_OF_BOUNDS = "^ndarray: index out of bounds$"
sigmas = st.one_of(
    st.floats(0.05, 20.0),
    st.sampled_from([0.0, -0.0, -1.0, -2.5, math.inf, -math.inf, math.nan, 1e200, 1e-200, 5e-324]),
    # 2 * sigma^2 a power of two, whose division the lanes may take as a multiplication by the
    # reciprocal: ordinary ones, the top of the range (reciprocal the subnormal 2^-1023), the
    # bottom of the normal range and a subnormal one.
    st.sampled_from([1.0, 4.0, 0.5, 2.0**511, 2.0**-511, 2.0**-512]),
)
ONE_APART = (1.0 / (2.0 - math.exp(-0.5))) * math.exp(-0.5)  # the reciprocal first, then the product
TWO_ZEROS = np.zeros((2, 1))


@pytest.mark.parametrize(
    "x, y, sigma, kernel, normalized",
    [(TWO_ZEROS, TWO_ZEROS, sigma, 3.0, 1.0) for sigma in (1.0, -1.0, 0.5, 1e10, math.inf)]  # three paths
    + [
        (np.array([[0.0]]), np.array([[1.0]]), 1.0, ONE_APART, ONE_APART),
        (np.zeros((0, 2)), np.zeros((0, 2)), 1.0, 1.0, 1.0),
        (np.zeros((0, 2)), np.ones((2, 2)), 1.0, 0.0, 0.0),
        (np.zeros((2, 2)), np.ones((0, 2)), 1.0, 0.0, 0.0),
        (np.arange(6.0).reshape(3, 2), np.arange(6.0).reshape(3, 2) + 0.5, 0.0, 0.0, math.nan),
    ],
)
def test_examples(x, y, sigma, kernel, normalized):
    assert_same_float(_rust_core.unnormalized_gak_py(x, y, sigma), kernel)
    assert_same_float(_rust_core.gak(x, y, sigma), normalized)
    assert_same_float(reference_gak(x, y, sigma), normalized)


def test_narrower_y_fails():
    for call in (_rust_core.gak, _rust_core.unnormalized_gak_py):
        with pytest.raises(PanicException, match=OUT_OF_BOUNDS):
            call(np.ones((2, 3)), np.ones((2, 2)), 1.0)
    with pytest.raises(PanicException, match=OUT_OF_BOUNDS):
        _rust_core.cdist_gak(np.ones((2, 3, 2)), np.ones((5, 3, 1)), 1.0)


@pytest.mark.parametrize("n, m", [(0, 3), (3, 0)])
def test_cdist_with_empty_series_leaves_narrower_features_unread(n, m):
    # An empty series makes every sum 0 (out of the plain range) without the feature check, so
    # y may be narrower than x: the entries are the single-pair ones, and nothing reads past y
    # (the sanitizer build sees a read beyond y's buffer).
    x, y = np.ones((2, n, 3)), np.ones((3, m, 1))
    actual = _rust_core.cdist_gak(x, y, 1.0)
    assert_same_array(actual, np.array([[_rust_core.gak(p, q, 1.0) for q in y] for p in x]))


@settings(max_examples=200, deadline=None)
@given(st.data(), st.integers(0, 10), st.integers(0, 10), st.integers(0, 3), st.integers(-1, 1), sigmas)
def test_matches_reference(data, n, m, d, extra_cols, sigma):
    x = data.draw(arrays((n, d)))
    y = data.draw(arrays((m, max(0, d + extra_cols))))
    try:
        try:
            expected = (reference_unnormalized_gak(x, y, sigma), reference_gak(x, y, sigma))
        except IndexFailure:
            for call in (_rust_core.unnormalized_gak_py, _rust_core.gak):
                with pytest.raises(PanicException, match=OUT_OF_BOUNDS):
                    call(x, y, sigma)
            return
        assert_same_float(_rust_core.unnormalized_gak_py(x, y, sigma), expected[0])
        assert_same_float(_rust_core.gak(x, y, sigma), expected[1])
    except PanicException as e:  # BaseException: hypothesis would not report it otherwise
        raise AssertionError(f"unexpected internal failure: {e}") from None


@settings(max_examples=100, deadline=None)
@given(st.data(), st.integers(0, 12), st.integers(1, 3), st.floats(0.3, 5.0))
def test_series_with_itself_is_one(data, n, d, sigma):
    x = data.draw(arrays((n, d), elements=finite_values))
    k = _rust_core.unnormalized_gak_py(x, x, sigma)
    if math.isfinite(k) and k != 0.0:
        assert_same_float(_rust_core.gak(x, x, sigma), 1.0)


@settings(max_examples=60, deadline=None)
@given(st.data(), st.integers(0, 6), st.integers(0, 6), st.integers(0, 5), st.integers(0, 5),
       st.integers(1, 2), sigmas)
def test_cdist_entries_equal_gak(data, nx, ny, sx, sy, d, sigma):
    x = data.draw(arrays((nx, sx, d)))
    y = data.draw(arrays((ny, sy, d)))
    try:
        expected = [[_rust_core.gak(x[i], y[j], sigma) for j in range(ny)] for i in range(nx)]
        assert_same_array(_rust_core.cdist_gak(x, y, sigma), np.array(expected).reshape(nx, ny))
    except PanicException as e:
        raise AssertionError(f"unexpected internal failure: {e}") from None


@settings(max_examples=60, deadline=None)
@given(st.data(), st.integers(0, 7), st.integers(0, 6), st.integers(1, 2), sigmas)
def test_cdist_of_a_set_with_itself_equals_the_full_computation(data, count, length, d, sigma):
    # The same view on both sides takes the symmetric shortcut; a copy does not.
    x = data.draw(arrays((count, length, d)))
    try:
        assert_same_array(_rust_core.cdist_gak(x, x, sigma), _rust_core.cdist_gak(x, x.copy(), sigma))
    except PanicException as e:
        raise AssertionError(f"unexpected internal failure: {e}") from None


def test_cdist_of_a_set_with_itself_has_unit_diagonal():
    x = np.random.default_rng(5).standard_normal((4, 6, 2))
    square = _rust_core.cdist_gak(x, x, 1.5)
    for i in range(4):
        assert_same_float(float(square[i, i]), 1.0)


@pytest.mark.parametrize("nx, ny", [(0, 3), (3, 0), (0, 0)])
def test_cdist_empty_sets(nx, ny):
    assert_same_array(_rust_core.cdist_gak(np.ones((nx, 4, 2)), np.ones((ny, 3, 2)), 1.0), np.empty((nx, ny)))


def test_cdist_results_do_not_depend_on_worker_count():
    # The pool's size is fixed on first use, so each worker count needs a process of its own.
    script = (
        "import sys, numpy as np, _rust_core as rc\n"
        "x = np.random.default_rng(11).standard_normal((7, 9, 2))\n"
        "y = np.random.default_rng(12).standard_normal((6, 8, 2))\n"
        "parts = [rc.cdist_gak(x, y, 1.3), rc.cdist_soft_dtw(x, y, 0.6), rc.cdist_manhattan(y, x)]\n"
        "sys.stdout.write(np.concatenate([p.ravel() for p in parts]).tobytes().hex())\n"
    )
    outputs = {run_python(script, RAYON_NUM_THREADS=workers).stdout for workers in ("1", "2", "5")}
    assert len(outputs) == 1 and len(outputs.pop()) == 16 * (7 * 6 * 2 + 6 * 7)


# Series long enough for several strips and blocks of rows swept together (also of the
# self-similarity triangles), with bandwidths whose kernels round to zero, overflowing sums, and
# NaN and infinite features in some series.
PATH_SIGMAS = (1.3, 0.05, 7.0, -2.0, 4.0, 0.25)


def path_sets():
    rng = np.random.default_rng(4)
    x, y = rng.normal(size=(3, 27, 2)), rng.normal(size=(5, 11, 2)) * 2.0  # strips of 8 rows: 3, then 3 rows
    y[1, 4, 0], y[3, 0, 1], x[2, 7, 1] = np.nan, np.inf, -np.inf
    return x, y


PATH_SCRIPT = "import sys, numpy as np, _rust_core\n" + inspect.getsource(path_sets) + f"""
x, y = path_sets()
out = [_rust_core.cdist_gak(x, y, sigma) for sigma in {PATH_SIGMAS!r}]
sys.stdout.write(b"".join(m.tobytes() for m in out).hex())
"""


@pytest.mark.parametrize("simd", simd_targets())
@pytest.mark.parametrize("libm", ["default", "public"])
def test_every_simd_and_libm_path_matches_the_reference(simd, libm):
    actual = float64s_from_script(PATH_SCRIPT, RC_SIMD=simd, RC_LIBM=libm).reshape(len(PATH_SIGMAS), 3, 5)
    x, y = path_sets()
    for k, sigma in enumerate(PATH_SIGMAS):
        assert_same_array(actual[k], reference_cdist_gak(x, y, sigma))


# Series near each other but for one "wall" step 38.2 away, a row of x or a column of y, that
# every alignment of a walled series with a plain one crosses: with sigma = 1 the wall's exp
# arguments lie in (-749, -710), whose subnormal results the lane exp leaves to its one-lane
# path, and the sums carry those results' bits. The walls sit in strips of every width and in
# their first and last steps; the plain variant of the library's exp is chosen by hiding FMA
# from the C library.
def wall_sets():
    rng = np.random.default_rng(21)
    walled_x, plain_y = rng.uniform(0.0, 0.5, size=(3, 21, 1)), rng.uniform(0.0, 0.5, size=(2, 19, 1))
    plain_x, walled_y = rng.uniform(0.0, 0.5, size=(2, 21, 1)), rng.uniform(0.0, 0.5, size=(3, 19, 1))
    for k, (row, column) in enumerate(((3, 0), (12, 9), (20, 18))):
        walled_x[k, row] += 38.2
        walled_y[k, column] += 38.2
    return (walled_x, plain_y), (plain_x, walled_y)


WALL_SCRIPT = "import sys, numpy as np, _rust_core\n" + inspect.getsource(wall_sets) + """
out = []
for x, y in wall_sets():
    out += [_rust_core.unnormalized_gak_py(p, q, 1.0) for p in x for q in y]
    out += list(_rust_core.cdist_gak(x, y, 1.0).ravel())
sys.stdout.write(np.array(out).tobytes().hex())
"""


@pytest.mark.parametrize("simd", simd_targets())
@pytest.mark.parametrize("env", [{}, {"GLIBC_TUNABLES": "glibc.cpu.hwcaps=-AVX2,-FMA"}], ids=["fused", "plain"])
def test_subnormal_local_kernels_match_the_reference(simd, env):
    actual = float64s_from_script(WALL_SCRIPT, RC_SIMD=simd, **env)
    expected = []
    for x, y in wall_sets():
        sums = [reference_unnormalized_gak(p, q, 1.0) for p in x for q in y]
        assert all(0.0 < k < 1e-280 for k in sums)  # the case at hand: every alignment crosses a wall
        expected += sums + list(np.ravel(reference_cdist_gak(x, y, 1.0)))
    assert_same_array(actual, np.array(expected))


def test_series_too_wide_to_copy_read_their_features_in_place():
    # 5 steps of 2**20 features exceed the copy the sweeps keep for vectorised costs; such series
    # are read in place. Every cost is 2**20 exactly (ones against zeros), as for one feature
    # 1024 apart, so the results must equal those of the narrow stand-ins.
    wide_x, wide_y = np.broadcast_to(0.0, (3, 2**20)), np.broadcast_to(1.0, (5, 2**20))
    narrow_x, narrow_y = np.zeros((3, 1)), np.full((5, 1), 1024.0)
    sigma = 1000.0
    assert_same_float(
        _rust_core.unnormalized_gak_py(wide_x, wide_y, sigma), reference_unnormalized_gak(narrow_x, narrow_y, sigma)
    )
    assert_same_float(_rust_core.gak(wide_y, wide_x, sigma), reference_gak(narrow_y, narrow_x, sigma))
    assert_same_array(_rust_core.cdist_gak(wide_y[None], wide_x[None], sigma), [[reference_gak(narrow_y, narrow_x, sigma)]])


# Random walks long enough for the plain sums to leave the range of doubles: the product of the
# self-similarities overflows (300 steps), the sums themselves overflow (500 steps; 400 steps of
# 3 features). A kernel sum that underflows cannot leave an ordinary ratio (the self-similarities
# are at least 1), so the cases that matter are these.
def long_walks(seed, length, d=1, offset=0.0):
    rng = np.random.default_rng(seed)
    a = rng.standard_normal((length, d)).cumsum(axis=0)
    b = rng.standard_normal((length, d)).cumsum(axis=0) + offset
    return a, b


OUT_OF_RANGE = [(300, 1, 0.0, 100.0), (500, 1, 0.0, 100.0), (400, 3, 0.0, 60.0)]


def log_space_gak(a, b, sigma):
    lxy, lxx, lyy = (reference_log_gak(p, q, sigma) for p, q in ((a, b), (a, a), (b, b)))
    return math.exp(lxy - (lxx + lyy) / 2.0)


@pytest.mark.parametrize("length, d, offset, sigma", OUT_OF_RANGE)
def test_sums_beyond_the_double_range_give_the_true_ratio(length, d, offset, sigma):
    a, b = long_walks(length, length, d, offset)
    plain = [reference_unnormalized_gak(p, q, sigma) for p, q in ((a, b), (a, a), (b, b))]
    assert not all(math.isfinite(k) and k != 0.0 for k in plain + [plain[1] * plain[2]])  # the case at hand
    expected = log_space_gak(a, b, sigma)
    assert 1e-300 < expected < 1.0
    assert math.isclose(_rust_core.gak(a, b, sigma), expected, rel_tol=1e-9)
    assert math.isclose(_rust_core.gak(b, a, sigma), expected, rel_tol=1e-9)
    # The raw sums stay plain floating point: inf where they overflow, 0 where they underflow.
    for (p, q), k in zip(((a, b), (a, a), (b, b)), plain):
        assert_same_float(_rust_core.unnormalized_gak_py(p, q, sigma), k)


def test_cdist_sums_beyond_the_double_range():
    # Short series whose sums stay plain beside long ones whose sums do not, on both sides and
    # against themselves.
    sigma = 100.0
    walks = [long_walks(seed, 300) for seed in (1, 2)]
    x = np.stack([walks[0][0], walks[0][1], np.resize(walks[1][0][:40], (300, 1))])
    y = np.stack([walks[1][1], np.zeros((300, 1))])
    expected = [[log_space_gak(p, q, sigma) for q in y] for p in x]
    actual = _rust_core.cdist_gak(x, y, sigma)
    assert np.allclose(actual, expected, rtol=1e-9, atol=0.0)
    for i in range(len(x)):
        for j in range(len(y)):
            assert_same_float(float(actual[i, j]), _rust_core.gak(x[i], y[j], sigma))
    square = _rust_core.cdist_gak(x, x, sigma)
    assert_same_array(square, _rust_core.cdist_gak(x, x.copy(), sigma))
    assert np.allclose(square, [[log_space_gak(p, q, sigma) for q in x] for p in x], rtol=1e-9, atol=0.0)


def test_ordinary_sums_keep_the_plain_quotient():
    # Everything in range: the quotient of the plain sums, bit for bit (the reference takes the
    # log-space route only when a sum or the product leaves the range).
    a, b = long_walks(9, 120)
    assert_same_float(_rust_core.gak(a, b, 30.0), reference_gak(a, b, 30.0))
