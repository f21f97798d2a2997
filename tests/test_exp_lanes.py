"""The lane exp against the C library's exp and the log bracket around its log, through the native
program exp_check (a CMake target outside the module, built here on first use), and the generated
tables against their definitions."""

import os
import platform
import shutil
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest
from helpers import assert_same_array, float64s_from_script, run_python

ROOT = Path(__file__).resolve().parent.parent
# Built by the compiler named in CXX where it is set (make test-clang names the one that built the
# module), each compiler in a folder of its own.
COMPILER = os.environ.get("CXX", "")
BUILD = ROOT / "build" / ("native-checks" + (f"-{Path(COMPILER).name}" if COMPILER else ""))
NO_FMA = "glibc.cpu.hwcaps=-AVX2,-FMA"  # makes the C library pick its exp without fused multiply-add
ARGUMENTS = 1_000_000  # per instruction set and variant

pytestmark = pytest.mark.skipif(
    platform.system() != "Linux" or platform.machine() not in ("x86_64", "AMD64"),
    reason="the lane exp exists for x86-64",
)


@pytest.mark.parametrize("generator", ["exp_table.py", "log_table.py"])
def test_table_is_its_definition(generator):
    result = subprocess.run([sys.executable, str(ROOT / "tools" / generator), "--check"],
                            capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.fixture(scope="module")
def exp_check():
    tools = Path(sys.executable).parent
    cmake, ninja = shutil.which("cmake", path=str(tools)), shutil.which("ninja", path=str(tools))
    if cmake is None or ninja is None:
        pytest.skip("cmake and ninja from the test environment are needed to build exp_check")
    compiler = [f"-DCMAKE_CXX_COMPILER={COMPILER}"] if COMPILER else []
    subprocess.run([cmake, "-S", str(ROOT), "-B", str(BUILD), "-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={ninja}",
                    f"-DPython_EXECUTABLE={sys.executable}", *compiler], check=True, capture_output=True)
    subprocess.run([cmake, "--build", str(BUILD), "--target", "exp_check", "exp_interposer", "log_interposer"],
                   check=True, capture_output=True)
    return BUILD / "exp_check"


def run(program, count, seed, **env):
    """The variant the module chooses, whether it settles cells by the log bracket, and
    {(target, variant or "bracket"): (mismatches or failures, first argument's bits)}."""
    output = subprocess.run([str(program), str(count), str(seed)], env={**os.environ, **env},
                            capture_output=True, text=True, check=True).stdout.split("\n")
    chosen = output[0].removeprefix("chosen ")
    bracketed = output[1] == "bracketed 1"
    tallies = {}
    for line in filter(None, output[2:]):
        target, variant, mismatches, first = line.split()
        tallies[target, variant] = (int(mismatches), first)
    return chosen, bracketed, tallies


def cpu_flags():
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("flags"):
                return set(line.split(":", 1)[1].split())
    return set()


def library_variant(env):
    """The exp the GNU C library picks: with fused multiply-add where the processor has FMA and
    AVX2 and the tunable does not hide them."""
    if env.get("GLIBC_TUNABLES") == NO_FMA:
        return "plain"
    return "fused" if {"fma", "avx2"} <= cpu_flags() else "plain"


@pytest.mark.skipif(platform.libc_ver()[0] != "glibc", reason="the lane exp reproduces the GNU C library's exp")
@pytest.mark.parametrize("env", [{}, {"GLIBC_TUNABLES": NO_FMA}], ids=["library default", "library without fma"])
@pytest.mark.parametrize("seed", [1, 2])
def test_every_instruction_set_matches_the_library(exp_check, env, seed):
    chosen, bracketed, tallies = run(exp_check, ARGUMENTS, seed, **env)
    expected = library_variant({**os.environ, **env})
    other = "plain" if expected == "fused" else "fused"
    assert chosen == expected
    targets = {target for target, variant in tallies if variant != "bracket"}
    assert "baseline" in targets
    for target in targets:
        assert tallies[target, expected][0] == 0, f"{target} differs first at {tallies[target, expected][1]}"
        # The variants differ on some arguments, so the agreement above tells them apart.
        assert tallies[target, other][0] > 0
    # Both variants of the library's log lie inside the bracket, which stays a few ulps wide.
    assert bracketed
    for target in targets:
        assert tallies[target, "bracket"][0] == 0, f"{target}'s bracket fails first at {tallies[target, 'bracket'][1]}"


def test_public_entries_keep_the_library_calls(exp_check):
    chosen, bracketed, _ = run(exp_check, 0, 1, RC_LIBM="public")
    assert chosen == "library"
    assert not bracketed


INTERPOSED_SCRIPT = f"""
import sys, numpy as np, _rust_core
sys.path.insert(0, {str(ROOT / "tests")!r})
import reference_gak, reference_soft_dtw
rng = np.random.default_rng(8)
x, y, long_x = rng.normal(size=(2, 9, 2)), rng.normal(size=(17, 10, 2)), rng.normal(size=(24, 2))
module = [_rust_core.cdist_soft_dtw(x, y, 0.8), _rust_core.cdist_gak(x, y, 1.7),
          np.array([_rust_core.soft_dtw(long_x, y[0], 0.8), _rust_core.unnormalized_gak_py(long_x, y[1], 1.7)])]
reference = [np.array([[reference_soft_dtw.soft_dtw(a, b, 0.8) for b in y] for a in x]),
             np.array(reference_gak.cdist_gak(x, y, 1.7)),
             np.array([reference_soft_dtw.soft_dtw(long_x, y[0], 0.8), reference_gak.unnormalized_gak(long_x, y[1], 1.7)])]
sys.stdout.write(b"".join(m.tobytes() for m in module + reference).hex())
"""


@pytest.mark.skipif(platform.libc_ver()[0] != "glibc", reason="preloading a replacement needs the GNU C library")
@pytest.mark.parametrize("libm", [None, "public"], ids=["own entries", "public entries"])
@pytest.mark.parametrize("replaced", ["exp", "log"])
def test_a_function_the_lanes_do_not_match_keeps_the_calls(exp_check, replaced, libm):
    # Under a preloaded exp that differs from the library's in the last bit no lane variant
    # agrees, so the module keeps calling exp; under a log four ulps off, the log leaves the
    # bracket, so every cell calls log. Either way its results follow the replacement, bit for
    # bit as the references do through math.exp and math.log, which call the same functions.
    # With RC_LIBM=public every cell calls the public functions: they too must be the process's,
    # which an exp or log bound into the module when it was linked (a toolchain's own copy) is not.
    # After whatever is preloaded already: a sanitizer runtime must stay first in the list.
    preloaded = [os.environ.get("LD_PRELOAD"), str(BUILD / f"lib{replaced}_interposer.so")]
    preload = {"LD_PRELOAD": " ".join(filter(None, preloaded))}
    if libm is None:
        chosen, bracketed, _ = run(exp_check, 0, 1, **preload)
        assert (chosen == "library") == (replaced == "exp")
        assert bracketed == (replaced == "exp")
    values = float64s_from_script(INTERPOSED_SCRIPT, RC_LIBM=libm, **preload)
    module, reference = values[: len(values) // 2], values[len(values) // 2 :]
    assert_same_array(module, reference)
    plain = float64s_from_script(INTERPOSED_SCRIPT, RC_LIBM=libm)
    assert not np.array_equal(plain[: len(plain) // 2], module)  # the replacement did change the results


@pytest.mark.skipif(platform.libc_ver()[0] != "glibc", reason="the tunable is the GNU C library's")
def test_soft_dtw_and_gak_suites_pass_with_the_library_without_fma():
    # The tunable takes effect at process start, so the suites run in an interpreter of their own,
    # module and references alike on the library's variant without fused multiply-add; their
    # path tests cover every instruction set from there.
    suites = [str(ROOT / "tests" / name) for name in ("test_soft_dtw.py", "test_gak.py")]
    result = run_python(["-m", "pytest", "-q", "-p", "no:cacheprovider", *suites], check=False, timeout=1800,
                        GLIBC_TUNABLES=NO_FMA)
    assert result.returncode == 0, result.stdout[-3000:]
