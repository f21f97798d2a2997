"""The shipped stubs describe the installed module, and type checkers accept right calls only.

Both checks run mypy on the installed module and its installed stub-only package, from a
scratch folder so that neither the source tree nor a config file of the repository is seen.
"""

import runpy
import subprocess
import sys
import textwrap

import pytest

pytest.importorskip("mypy")

CORRECT_USAGE = """
    from typing import Literal, assert_type

    import numpy as np
    from numpy.typing import NDArray

    import _rust_core as rc

    Matrix = np.ndarray[tuple[int, int], np.dtype[np.float64]]
    Vector = np.ndarray[tuple[int], np.dtype[np.float64]]
    Indices = np.ndarray[tuple[int], np.dtype[np.int64]]

    rng = np.random.default_rng(0)
    a: NDArray[np.float64] = rng.normal(size=(5, 2))
    b = np.zeros((4, 2))
    sets = rng.normal(size=(3, 5, 2))
    f = rng.random((6, 3))

    # Every result has its exact type; scalars go in as ints, bools and NumPy scalars too.
    assert_type(rc.rust_available(), Literal[True])
    assert_type(rc.squared_euclidean_cost_matrix(a, b), Matrix)
    assert_type(rc.dtw(a, b, None), float)
    assert_type(rc.dtw_with_path_py(x=a, y=b, sakoe_chiba_radius=np.int64(2)), tuple[float, list[tuple[int, int]]])
    assert_type(rc.cdist_dtw(sets, sets, True), Matrix)
    assert_type(rc.soft_dtw(a, b, np.float32(1.0)), float)
    assert_type(rc.cdist_soft_dtw(sets, sets, gamma=1), Matrix)
    assert_type(rc.gak(a, b, np.float64(0.5)), float)
    assert_type(rc.unnormalized_gak_py(a, b, 2.0), float)
    assert_type(rc.cdist_gak(sets, sets, np.int64(1)), Matrix)
    assert_type(rc.manhattan(b, a), float)
    assert_type(rc.cdist_manhattan(sets, sets), Matrix)
    assert_type(rc.das_dennis_py(3, n_partitions=4), Matrix)
    assert_type(rc.fast_non_dominated_sort_py(f), list[Indices])
    assert_type(rc.associate_to_niches_py(f, rc.das_dennis_py(3, 4), f[0], f[1]), tuple[Indices, Vector])
    assert_type(rc.normalization_update_py(f.min(axis=0), f, np.arange(2), 3), tuple[Vector, Vector])

    # The results flow into code written against the usual NumPy annotations.
    def distances(radius: int | None) -> tuple[float, NDArray[np.float64]]:
        return rc.dtw(a, b, radius), rc.cdist_dtw(sets, sets, radius)

    fronts: list[NDArray[np.int64]] = rc.fast_non_dominated_sort_py(f)
    ideal, nadir = rc.normalization_update_py(f.min(axis=0), f, fronts[0], 3)
    niches, spread = rc.associate_to_niches_py(f, rc.das_dennis_py(3, 4), ideal, nadir)
    distance, path = rc.dtw_with_path_py(a, b, None)
    steps: list[int] = [i + j for i, j in path]
    largest: float = max(distance, float(spread.max()), float(niches.sum()))
"""

# One obvious mistake each: (name, statement, mypy error code).
MISUSES = [
    ("str radius", "rc.dtw(a, a, '2')", "arg-type"),
    ("str gamma", "rc.soft_dtw(a, a, gamma='0.1')", "arg-type"),
    ("float32 series", "rc.manhattan(single, a)", "arg-type"),
    ("list for an array", "rc.gak([[1.0]], a, 1.0)", "arg-type"),
    ("float64 front", "rc.normalization_update_py(v, a, v, 2)", "arg-type"),
    ("missing radius", "rc.cdist_dtw(a, a)", "call-arg"),
    ("misspelt keyword", "rc.dtw(a, a, radius=2)", "call-arg"),
    ("float for a count", "rc.das_dennis_py(3, 4.0)", "arg-type"),
    ("distance as a matrix", "matrix: NDArray[np.float64] = rc.dtw(a, a, None)", "assignment"),
    ("front as floats", "front: NDArray[np.float64] = rc.fast_non_dominated_sort_py(a)[0]", "assignment"),
]
# The operands are bound before the mistake: inside a call, the expected parameter type can
# steer NumPy's overloads to ones that return Any, which would hide the mistake.
MISUSE_PRELUDE = """\
import numpy as np
from numpy.typing import NDArray

import _rust_core as rc

a = np.zeros((3, 2))
single = np.zeros((3, 2), dtype=np.float32)
v = np.zeros(2)
"""


def run_tool(args, cwd):
    return subprocess.run([sys.executable, "-m", *args], cwd=cwd, capture_output=True, text=True, timeout=240)


@pytest.fixture(scope="module")
def scratch(tmp_path_factory):
    return tmp_path_factory.mktemp("typing")


def mypy(scratch, *files):
    # Strict mode also flags results that would leak as Any; an empty --config-file reads none.
    return run_tool(["mypy", "--strict", "--config-file=", "--cache-dir", str(scratch / "cache"),
                     "--no-error-summary", "--show-error-codes", *files], scratch)


def test_stubtest_finds_no_difference(scratch):
    result = run_tool(["mypy.stubtest", "--mypy-config-file=", "_rust_core"], scratch)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "Success" in result.stdout


def test_correct_usage_type_checks_and_runs(scratch):
    path = scratch / "correct.py"
    path.write_text(textwrap.dedent(CORRECT_USAGE))
    result = mypy(scratch, path.name)
    assert result.returncode == 0, result.stdout + result.stderr
    # What the stubs accept, the module accepts too.
    runpy.run_path(str(path))


def test_each_misuse_is_an_error(scratch):
    # One file per mistake, checked in one run: every file must report its own error at the
    # mistake's line and nothing else.
    files = []
    for number, (_, statement, _) in enumerate(MISUSES):
        path = scratch / f"misuse_{number}.py"
        path.write_text(MISUSE_PRELUDE + statement + "\n")
        files.append(path.name)
    result = mypy(scratch, *files)
    assert result.returncode == 1, result.stdout + result.stderr
    mistake_line = MISUSE_PRELUDE.count("\n") + 1
    for number, (name, _, code) in enumerate(MISUSES):
        errors = [line for line in result.stdout.splitlines()
                  if line.startswith(f"misuse_{number}.py:") and ": error:" in line]
        assert errors, f"{name}: no error reported"
        assert all(line.startswith(f"misuse_{number}.py:{mistake_line}: ") for line in errors), errors
        assert any(line.endswith(f"[{code}]") for line in errors), errors
