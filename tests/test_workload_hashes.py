"""The same bits on every target and both architectures: one hash per function of a fixed
workload (workload.py), computed in a process of its own per target, compared across the
instruction-set targets of this machine and, on aarch64, with the x86-64 reference that
make test-aarch64 writes natively first and names in RC_X86_64_HASHES."""

import json
import os
import platform

import pytest
from helpers import module_report, run_python, simd_targets

from workload import EXP_LOG_FUNCTIONS

WORKLOAD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "workload.py")
MACHINE = platform.machine()
# The paths the module must take by default, by architecture: its widest target, with the lane
# exp of the C library's variant with fused multiply-add and the log bracket.
EXPECTED_PATHS = {"x86_64": ("avx512", "fused", "bracket"), "aarch64": ("neon", "fused", "bracket")}
NO_FMA = "glibc.cpu.hwcaps=-AVX2,-FMA"  # makes the GNU C library pick its exp and log without fma


def hashes(**env: str) -> dict[str, str]:
    return json.loads(run_python([WORKLOAD], timeout=1800, **env).stdout)


@pytest.fixture(scope="module")
def default_hashes() -> dict[str, str]:
    return hashes()


def test_the_workload_covers_every_function(default_hashes):
    import _rust_core

    assert sorted(default_hashes) == sorted(_rust_core.__all__) and len(default_hashes) == 16


@pytest.mark.parametrize("target", simd_targets())
def test_every_target_gives_the_same_hashes(default_hashes, target):
    assert hashes(RC_SIMD=target) == default_hashes


def test_the_library_calls_give_the_same_hashes(default_hashes):
    # RC_LIBM=public: every exp and log comes from the C library's calls, not the lanes.
    assert hashes(RC_LIBM="public") == default_hashes


@pytest.mark.skipif(MACHINE not in EXPECTED_PATHS, reason=f"no paths expected on {MACHINE}")
def test_the_default_paths_are_the_fast_ones():
    target, exp, log = EXPECTED_PATHS[MACHINE]
    report = module_report(RC_SIMD=None)
    if target not in report["runs"].split(","):
        pytest.skip(f"this processor lacks {target}")
    assert (report["target"], report["exp"], report["log"]) == (target, exp, log)


@pytest.mark.skipif(MACHINE != "x86_64" or platform.libc_ver()[0] != "glibc",
                    reason="the GNU C library's other exp and log variant is x86-64's")
def test_the_library_without_fma_changes_only_the_exp_and_log_functions(default_hashes):
    other = hashes(GLIBC_TUNABLES=NO_FMA)
    unchanged = {name for name in default_hashes if other[name] == default_hashes[name]}
    assert unchanged >= set(default_hashes) - EXP_LOG_FUNCTIONS


def x86_64_reference() -> dict:
    path = os.environ.get("RC_X86_64_HASHES")
    if not path:
        pytest.skip("RC_X86_64_HASHES names no x86-64 reference (make test-aarch64 writes one)")
    with open(path) as f:
        return json.load(f)


@pytest.mark.skipif(MACHINE == "x86_64", reason="compares another architecture with x86-64")
def test_the_same_hashes_as_every_x86_64_target(default_hashes):
    reference = x86_64_reference()
    assert reference["machine"] == "x86_64"
    assert "baseline" in reference["targets"]
    # Where the x86-64 library ran its variant without fused multiply-add, only the functions
    # that never reach exp or log can agree.
    differing = {}
    for target, expected in reference["targets"].items():
        compared = set(expected) if reference["fused_libm"] else set(expected) - EXP_LOG_FUNCTIONS
        differing[target] = sorted(name for name in compared if default_hashes[name] != expected[name])
    assert differing == {target: [] for target in reference["targets"]}
