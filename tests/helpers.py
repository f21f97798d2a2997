"""Shared test helpers: bit-exact comparison, the internal-failure type, and hypothesis
strategies for arrays in every memory layout the module must read correctly."""

import functools
import math
import os
import struct
import subprocess
import sys
import tempfile
import textwrap

import numpy as np
import pytest
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

import _rust_core


def bits(value: float) -> bytes:
    return struct.pack("<d", value)


def same_float(a: float, b: float) -> bool:
    """Equal to the bit, except that any two NaNs count as equal."""
    if math.isnan(a) and math.isnan(b):
        return True
    return bits(a) == bits(b)


def assert_same_float(actual, expected) -> None:
    assert isinstance(actual, float), type(actual)
    assert same_float(actual, expected), f"{actual!r} != {expected!r}"


def assert_same_array(actual: np.ndarray, expected, dtype=np.float64) -> None:
    """Same dtype, shape and values to the bit (NaNs equal), result C-contiguous and owning
    a buffer that no other array shares."""
    expected = np.asarray(expected, dtype=dtype)
    assert isinstance(actual, np.ndarray)
    assert actual.dtype == dtype, actual.dtype
    assert actual.shape == expected.shape, (actual.shape, expected.shape)
    assert actual.flags.c_contiguous and actual.flags.writeable
    if dtype == np.float64:
        same = (actual.view(np.uint64) == expected.view(np.uint64)) | (np.isnan(actual) & np.isnan(expected))
        assert same.all(), f"differs at {np.argwhere(~same)[:5].tolist()}:\n{actual}\n{expected}"
    else:
        assert np.array_equal(actual, expected)


TESTS = os.path.dirname(os.path.abspath(__file__))


def run_python(code_or_args, *, check: bool = True, timeout: float = 300, text: bool = True,
               **env: str | None) -> subprocess.CompletedProcess:
    """Runs a snippet (or interpreter arguments) in a fresh interpreter that finds the test
    modules, with `env` added (None removes a variable): the module reads RC_SIMD, RC_LIBM and
    the pool size once per process. With `check`, a failed run fails the test with its output."""
    args = ["-c", textwrap.dedent(code_or_args)] if isinstance(code_or_args, str) else list(code_or_args)
    full_env = {**os.environ, "PYTHONPATH": os.pathsep.join(filter(None, [TESTS, os.environ.get("PYTHONPATH")]))}
    for name, value in env.items():
        if value is None:
            full_env.pop(name, None)
        else:
            full_env[name] = value
    result = subprocess.run([sys.executable, *args], capture_output=True, text=text, env=full_env, timeout=timeout)
    if check:
        assert result.returncode == 0, (result.stdout[-3000:], result.stderr[-3000:])
    return result


def float64s_from_script(script: str, **env: str | None) -> np.ndarray:
    """The float64 values that `script` writes to stdout as hex, run by run_python."""
    return np.frombuffer(bytes.fromhex(run_python(script, **env).stdout), dtype=np.float64).copy()


def module_report(**env: str | None) -> dict[str, str]:
    """The module's own account of the paths its kernels take (RC_REPORT), loaded in a fresh
    interpreter with `env`: target, built, runs, exp and log."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "report")
        run_python("import _rust_core", RC_REPORT=path, **env)
        with open(path) as report:
            return dict(field.split("=", 1) for field in report.read().split())


@functools.cache
def _targets() -> tuple[list[str], list[str]]:
    report = module_report(RC_SIMD=None)
    return report["built"].split(","), report["runs"].split(",")


def simd_targets():
    """Every SIMD target this build has, as pytest parameters for RC_SIMD; a target this
    processor lacks is skipped, saying so (asked for anyway, the module would refuse to load)."""
    built, runs = _targets()
    return [pytest.param(name, marks=pytest.mark.skipif(name not in runs, reason=f"this processor lacks {name}"))
            for name in built]


def running_targets() -> list[str]:
    """The SIMD targets of this build that this processor runs, narrowest first."""
    built, runs = _targets()
    return [name for name in built if name in runs]


def _panic_type():
    try:
        _rust_core.squared_euclidean_cost_matrix(np.ones((1, 2)), np.ones((1, 1)))
    except BaseException as e:  # noqa: BLE001 - capturing the type itself
        return type(e)
    raise AssertionError("the narrower-y cost matrix did not fail")


PanicException = _panic_type()


# --- hypothesis strategies -------------------------------------------------------------------

finite = st.floats(-1e3, 1e3, allow_nan=False, allow_infinity=False, width=64)
# Mostly ordinary values, sometimes NaN, infinities, signed zeros and extremes.
special = st.sampled_from([math.nan, math.inf, -math.inf, 0.0, -0.0, 1e308, -1e308, 5e-324])
# (one_of would merge repeated branches, so the odds are drawn explicitly: 1 in 8 special.)
values = st.integers(0, 7).flatmap(lambda k: special if k == 0 else finite)
finite_values = st.one_of(finite, st.sampled_from([0.0, -0.0, 1.0, -1.0]))

LAYOUTS = ("c", "fortran", "reversed", "strided", "unaligned")


def relayout(a: np.ndarray, layout: str) -> np.ndarray:
    """The same logical array as `a`, stored in another layout (never a C-contiguous copy
    unless layout == 'c')."""
    if layout == "c":
        return np.ascontiguousarray(a)
    if layout == "fortran":
        return np.asfortranarray(a)
    if layout == "reversed":
        # Stored reversed along every axis, viewed back in the original order: negative strides.
        flipped = np.ascontiguousarray(a[tuple(slice(None, None, -1) for _ in range(a.ndim))])
        return flipped[tuple(slice(None, None, -1) for _ in range(a.ndim))]
    if layout == "strided":
        # Every other element of a larger buffer along each axis, with garbage in the gaps.
        big = np.full(tuple(2 * s + 1 for s in a.shape), np.nan)
        view = big[tuple(slice(1, None, 2) for _ in range(a.ndim))]
        view[...] = a
        return view
    if layout == "unaligned":
        # C order, one byte past an aligned address: element loads must not assume alignment.
        raw = np.zeros(a.nbytes + 1, dtype=np.uint8)[1:]
        view = raw.view(a.dtype).reshape(a.shape)
        view[...] = a
        assert not view.flags.aligned or a.size == 0
        return view
    raise ValueError(layout)


@st.composite
def arrays(draw, shape, elements=values, layouts=LAYOUTS):
    """A float64 array of the given shape (a tuple of ints) in a drawn layout."""
    a = draw(hnp.arrays(np.float64, shape, elements=elements))
    return relayout(a, draw(st.sampled_from(layouts)))


def to_lists(a: np.ndarray):
    """Nested Python lists of Python floats: what the plain-Python references read."""
    return a.tolist()
