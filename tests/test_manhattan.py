import math
import os
import subprocess
import sys

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _rust_core
from helpers import PanicException, arrays, assert_same_array, assert_same_float, relayout
from reference_ieee import IndexFailure
from reference_manhattan import manhattan as reference_manhattan

OUT_OF_BOUNDS = "^ndarray: index out of bounds$"


def test_worked_example():
    x = np.array([[1.0, 2.0], [3.0, 4.0]])
    assert_same_float(_rust_core.manhattan(x, np.zeros((2, 2))), 10.0)


def test_extra_rows_and_columns_of_y_are_ignored_but_not_the_other_way():
    x = np.array([[1.0, 2.0]])
    y = np.array([[1.0, 2.0, 100.0], [7.0, 7.0, 7.0]])
    assert_same_float(_rust_core.manhattan(x, y), 0.0)
    with pytest.raises(PanicException, match=OUT_OF_BOUNDS):
        _rust_core.manhattan(y, x)


@pytest.mark.parametrize("x_shape, y_shape", [((1, 3), (5, 2)), ((3, 2), (2, 2)), ((3, 2), (0, 0))])
def test_y_not_covering_x_fails(x_shape, y_shape):
    with pytest.raises(PanicException, match=OUT_OF_BOUNDS):
        _rust_core.manhattan(np.ones(x_shape), np.ones(y_shape))


@pytest.mark.parametrize("x_shape", [(0, 3), (3, 0), (0, 0)])
def test_empty_x_is_zero_without_looking_at_y(x_shape):
    assert_same_float(_rust_core.manhattan(np.ones(x_shape), np.ones((0, 0))), 0.0)


@settings(max_examples=300, deadline=None)
@given(st.data(), st.integers(0, 5), st.integers(0, 4), st.integers(-1, 1), st.integers(-1, 1))
def test_matches_reference(data, rows, cols, extra_rows, extra_cols):
    x = data.draw(arrays((rows, cols)))
    y = data.draw(arrays((max(0, rows + extra_rows), max(0, cols + extra_cols))))
    try:
        try:
            expected = reference_manhattan(x, y)
        except IndexFailure:
            with pytest.raises(PanicException, match=OUT_OF_BOUNDS):
                _rust_core.manhattan(x, y)
            return
        assert_same_float(_rust_core.manhattan(x, y), expected)
    except PanicException as e:  # BaseException: hypothesis would not report it otherwise
        raise AssertionError(f"unexpected internal failure: {e}") from None


@settings(max_examples=80, deadline=None)
@given(st.data(), st.integers(0, 4), st.integers(0, 40), st.integers(0, 4), st.integers(0, 3))
def test_cdist_entries_equal_single_pairs(data, nx, ny, steps, d):
    # Up to 40 series in y: full groups of SIMD lanes of every width, then the scalar tail.
    x = data.draw(arrays((nx, steps, d)))
    y = data.draw(arrays((ny, steps + data.draw(st.integers(0, 1)), d + data.draw(st.integers(0, 1)))))
    try:
        expected = [[_rust_core.manhattan(x[i], y[j]) for j in range(ny)] for i in range(nx)]
        assert_same_array(_rust_core.cdist_manhattan(x, y), np.array(expected).reshape(nx, ny))
    except PanicException as e:
        raise AssertionError(f"unexpected internal failure: {e}") from None


@pytest.mark.parametrize("x_shape, y_shape", [((0, 5, 3), (4, 2, 1)), ((3, 5, 3), (0, 2, 1))])
def test_cdist_empty_sets_ignore_series_shapes(x_shape, y_shape):
    result = _rust_core.cdist_manhattan(np.ones(x_shape), np.ones(y_shape))
    assert_same_array(result, np.empty((x_shape[0], y_shape[0])))


@pytest.mark.parametrize("y_shape", [(20, 4, 1), (20, 3, 2)])
def test_cdist_y_shorter_or_narrower_fails(y_shape):
    with pytest.raises(PanicException, match=OUT_OF_BOUNDS):
        _rust_core.cdist_manhattan(np.ones((2, 4, 2)), np.ones(y_shape))


SIMD_INPUTS = """
import numpy as np
rng = np.random.default_rng(2)
x = rng.standard_normal((3, 17, 3)) * 1e3
y = rng.standard_normal((37, 17, 3)) * 1e-3
x[0, 2, 1] = np.nan
x[1, 4, 2] = -np.inf
y[9, 4, 2] = -np.inf
y[5, 3, 0] = np.inf
# Series of one shape are packed in C order; the wider and longer ones never are.
y_wide = np.concatenate([y, rng.standard_normal((37, 17, 1))], axis=2)
y_long = np.concatenate([y, rng.standard_normal((37, 1, 3))], axis=1)
"""


def test_simd_paths_give_identical_bits():
    # Each path in its own process: the choice is read from RC_SIMD once.
    script = SIMD_INPUTS + (
        "import sys, _rust_core as rc\n"
        "from helpers import relayout\n"
        "out = [rc.cdist_manhattan(relayout(x, k), relayout(b, k)) for b in (y, y_wide, y_long)\n"
        "       for k in ('c', 'fortran', 'reversed', 'strided')]\n"
        "sys.stdout.write(np.concatenate([o.ravel() for o in out]).tobytes().hex())\n"
    )
    env = dict(os.environ, PYTHONPATH=os.path.dirname(__file__))
    outputs = {}
    for path in ("scalar", "avx2", "avx512"):
        run = subprocess.run([sys.executable, "-c", script], env=dict(env, RC_SIMD=path),
                             capture_output=True, text=True, check=True)
        outputs[path] = run.stdout
    assert outputs["scalar"] == outputs["avx2"] == outputs["avx512"]
    inputs = {}
    exec(SIMD_INPUTS, inputs)
    x, y = inputs["x"], inputs["y"]
    expected = [[reference_manhattan(a, b) for b in y] for a in x]
    for layout in np.frombuffer(bytes.fromhex(outputs["scalar"]), dtype=np.float64).reshape(12, 3, 37):
        assert_same_array(layout.copy(), expected)
