"""The SIMD targets: the module runs the one a test asks for, or refuses to load, and tells which
target and exp/log path it chose. And kernels compiled for AVX2 and AVX-512 must stay inside
their own instantiations: an inline function or template instantiated both there and in baseline
code under the same name could be merged by the linker, and a machine without AVX would then run
AVX code. The linked module is disassembled and every function that does not name a wide
target's ops (rc::simd::avx2 / rc::simd::avx512) must be free of VEX and EVEX instructions."""

import glob
import os
import platform
import re
import shutil
import subprocess
import tempfile

import pytest

import _rust_core
from helpers import module_report, run_python, running_targets, simd_targets

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WIDE_NAMESPACES = ("rc::simd::avx2::", "rc::simd::avx512::")


class TestChoice:
    @pytest.mark.parametrize("target", simd_targets())
    def test_the_requested_target_runs(self, target):
        assert module_report(RC_SIMD=target)["target"] == target

    def test_by_default_the_widest_target_runs(self):
        assert module_report(RC_SIMD=None)["target"] == running_targets()[-1]

    @pytest.mark.parametrize("name", ["bogus", "scalar", "AVX2", " avx2"])
    def test_a_target_that_does_not_exist_refuses_to_load(self, name):
        result = run_python("import _rust_core", check=False, RC_SIMD=name)
        assert result.returncode != 0
        assert f"ImportError: RC_SIMD={name} names no SIMD target" in result.stderr

    def test_a_target_of_another_architecture_refuses_to_load(self):
        other = "neon" if platform.machine() in ("x86_64", "AMD64") else "avx2"
        result = run_python("import _rust_core", check=False, RC_SIMD=other)
        assert result.returncode != 0 and "ImportError: RC_SIMD=" in result.stderr

    def test_the_report_names_the_paths(self):
        report = module_report(RC_SIMD=None)
        assert report["target"] in report["runs"].split(",")
        assert set(report["runs"].split(",")) <= set(report["built"].split(","))
        assert report["exp"] in ("library", "fused", "plain")
        assert report["log"] in ("library", "bracket")

    def test_public_libm_keeps_the_library_calls(self):
        report = module_report(RC_SIMD=None, RC_LIBM="public")
        assert (report["exp"], report["log"]) == ("library", "library")

    def test_an_unwritable_report_fails_the_import(self, tmp_path):
        result = run_python("import _rust_core", check=False, RC_REPORT=str(tmp_path / "missing" / "report"))
        assert result.returncode != 0 and "FileNotFoundError" in result.stderr and "missing/report" in result.stderr
# AT&T syntax: a ymm/zmm or mask register, or a v-prefixed instruction on xmm registers.
WIDE_INSTRUCTION = re.compile(r"%[yz]mm\d|%k[0-7]\b|^\s*[0-9a-f]+:\s+v\w+\s.*%xmm")


def text_section(path: str) -> bytes:
    with tempfile.NamedTemporaryFile() as out:
        subprocess.run(["objcopy", "-O", "binary", "--only-section=.text", path, out.name], check=True)
        return open(out.name, "rb").read()


def linked_module_with_symbols() -> str:
    """The build tree's copy of the imported module, which keeps the symbols that installing
    strips; the same code as the imported one, checked by comparing the two."""
    if shutil.which("objdump") is None or shutil.which("objcopy") is None:
        pytest.skip("needs objdump and objcopy (binutils)")
    installed = _rust_core.__file__
    for candidate in glob.glob(os.path.join(ROOT, "build", "*", os.path.basename(installed))):
        if text_section(candidate) == text_section(installed):
            return candidate
    pytest.skip("no build tree next to the tests holds the imported module's code")


def functions_with_wide_instructions(path: str) -> dict[str, int]:
    listing = subprocess.run(["objdump", "-d", "-C", "--no-show-raw-insn", path], check=True,
                             capture_output=True, text=True).stdout
    found: dict[str, int] = {}
    name = None
    for line in listing.splitlines():
        header = re.match(r"^[0-9a-f]+ <(.*)>:$", line)
        if header:
            name = header.group(1)
        elif name is not None and WIDE_INSTRUCTION.search(line):
            found[name] = found.get(name, 0) + 1
    return found


@pytest.fixture(scope="module")
def wide_functions() -> dict[str, int]:
    return functions_with_wide_instructions(linked_module_with_symbols())


def test_only_the_wide_targets_hold_wide_instructions(wide_functions):
    outside = sorted(name for name in wide_functions if not any(ns in name for ns in WIDE_NAMESPACES))
    assert outside == [], f"AVX instructions outside the AVX targets: {outside[:10]}"


@pytest.mark.parametrize("namespace", WIDE_NAMESPACES)
def test_the_wide_targets_are_compiled_for_their_instructions(wide_functions, namespace):
    # The check above proves something only while the wide kernels are where it looks for them.
    assert any(namespace in name for name in wide_functions)
