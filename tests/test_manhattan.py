
import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _rust_core
from helpers import PanicException, arrays, assert_same_array, assert_same_float, run_python, running_targets
from reference_ieee import IndexFailure
from reference_manhattan import manhattan as reference_manhattan

OUT_OF_BOUNDS = "^ndarray: index out of bounds$"


@pytest.mark.parametrize(
    "x, y, expected",
    [
        ([[1.0, 2.0], [3.0, 4.0]], [[0.0, 0.0], [0.0, 0.0]], 10.0),
        ([[1.0, 2.0]], [[1.0, 2.0, 100.0], [7.0, 7.0, 7.0]], 0.0),  # y's extra row and column unused
        (np.ones((0, 3)), np.ones((0, 0)), 0.0),  # empty x: y is not looked at
        (np.ones((3, 0)), np.ones((0, 0)), 0.0),
    ],
)
def test_examples(x, y, expected):
    assert_same_float(_rust_core.manhattan(np.array(x), np.array(y)), expected)


@pytest.mark.parametrize(
    "x_shape, y_shape",
    [((2, 3), (1, 2)), ((1, 3), (5, 2)), ((3, 2), (2, 2)), ((3, 2), (0, 0))],  # the first: swapped example
)
def test_y_not_covering_x_fails(x_shape, y_shape):
    with pytest.raises(PanicException, match=OUT_OF_BOUNDS):
        _rust_core.manhattan(np.ones(x_shape), np.ones(y_shape))
    with pytest.raises(PanicException, match=OUT_OF_BOUNDS):
        _rust_core.cdist_manhattan(np.ones((2,) + x_shape), np.ones((20,) + y_shape))


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


SIMD_INPUTS = """
import numpy as np
rng = np.random.default_rng(2)
x = rng.standard_normal((3, 17, 3)) * 1e3
y = rng.standard_normal((37, 17, 3)) * 1e-3
x[0, 2, 1], x[1, 4, 2], y[9, 4, 2], y[5, 3, 0] = np.nan, -np.inf, -np.inf, np.inf
# Series of one shape in C order are packed runs; the wider and longer ones are not.
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
    outputs = {path: run_python(script, RC_SIMD=path).stdout for path in running_targets()}
    assert len(set(outputs.values())) == 1
    inputs = {}
    exec(SIMD_INPUTS, inputs)
    expected = [[reference_manhattan(a, b) for b in inputs["y"]] for a in inputs["x"]]
    for result in np.frombuffer(bytes.fromhex(outputs["baseline"]), dtype=np.float64).reshape(12, 3, 37):
        assert_same_array(result.copy(), expected)
