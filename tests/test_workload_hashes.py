"""The same bits on every target and both architectures: one hash per function of a fixed
workload (workload.py), computed in a process of its own per target, compared across the
instruction-set targets of this machine and, on aarch64, with the x86-64 reference that
make test-aarch64 writes natively first and names in RC_X86_64_HASHES."""

import json
import os
import platform
import tempfile

import pytest
from helpers import run_python

from workload import EXP_LOG_FUNCTIONS

WORKLOAD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "workload.py")
MACHINE = platform.machine()
# The RC_SIMD targets of each architecture; the process's own choice (no RC_SIMD) runs as well.
TARGETS = {"x86_64": ("baseline", "avx2", "avx512"), "aarch64": ("baseline",)}
# What the module writes to the RC_REPORT file for its default target, by architecture; an
# architecture not named here is not checked.
EXPECTED_REPORT: dict[str, str] = {}
NO_FMA = "glibc.cpu.hwcaps=-AVX2,-FMA"  # makes the GNU C library pick its exp and log without fma


def hashes(**env: str) -> dict[str, str]:
    return json.loads(run_python([WORKLOAD], timeout=1800, **env).stdout)


@pytest.fixture(scope="module")
def default_hashes() -> dict[str, str]:
    return hashes()


def test_the_workload_covers_every_function(default_hashes):
    import _rust_core

    assert sorted(default_hashes) == sorted(_rust_core.__all__) and len(default_hashes) == 16


@pytest.mark.skipif(MACHINE not in TARGETS, reason=f"no targets listed for {MACHINE}")
@pytest.mark.parametrize("target", TARGETS.get(MACHINE, ()))
def test_every_target_gives_the_same_hashes(default_hashes, target):
    assert hashes(RC_SIMD=target) == default_hashes


def test_the_library_calls_give_the_same_hashes(default_hashes):
    # RC_LIBM=public: every exp and log comes from the C library's calls, not the lanes.
    assert hashes(RC_LIBM="public") == default_hashes


@pytest.mark.skipif(MACHINE not in EXPECTED_REPORT, reason=f"no report expected on {MACHINE} yet")
def test_the_default_target_reports_what_is_expected():
    with tempfile.TemporaryDirectory() as scratch:
        report = os.path.join(scratch, "report")
        hashes(RC_REPORT=report)
        with open(report) as f:
            assert f.read().strip() == EXPECTED_REPORT[MACHINE]


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
    assert sorted(reference["targets"]) == sorted(TARGETS["x86_64"])
    # Where the x86-64 library ran its variant without fused multiply-add, only the functions
    # that never reach exp or log can agree.
    differing = {}
    for target, expected in reference["targets"].items():
        compared = set(expected) if reference["fused_libm"] else set(expected) - EXP_LOG_FUNCTIONS
        differing[target] = sorted(name for name in compared if default_hashes[name] != expected[name])
    assert differing == {target: [] for target in TARGETS["x86_64"]}
