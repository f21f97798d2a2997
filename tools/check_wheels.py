"""Checks built wheels against the platform their tags promise: the platform tag is
manylinux_<glibc>_<arch>, the module inside is an ELF file of that architecture named for the
wheel's interpreter, `auditwheel show` finds the wheel consistent with that policy or an older
one, the module needs no GLIBC_ symbol version above <glibc>, and it takes memcpy, memmove and
memset from the C library (a toolchain's runtime linked in would bring its own copies, which would
then serve every copy the module makes). Prints one line per wheel.

    python tools/check_wheels.py --glibc 2.28 dist/*.whl
"""

import argparse
import re
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

from elftools.elf.elffile import ELFFile
from elftools.elf.gnuversions import GNUVerNeedSection
from elftools.elf.sections import SymbolTableSection

C_LIBRARY_COPIES = ("memcpy", "memmove", "memset")
ELF_MACHINES = {"x86_64": "EM_X86_64", "aarch64": "EM_AARCH64"}
WHEEL_NAME = re.compile(r"^(?P<dist>[^-]+)-(?P<version>[^-]+)-(?P<python>cp3\d+)-(?P<abi>cp3\d+t?)-(?P<platform>[^-]+)\.whl$")


def version_tuple(text: str) -> tuple[int, ...]:
    return tuple(int(part) for part in text.split("."))


def glibc_versions_needed(module: Path) -> list[tuple[int, ...]]:
    """Every GLIBC_x.y version the module's dynamic symbols reference."""
    with open(module, "rb") as f:
        elf = ELFFile(f)
        needed = []
        for section in elf.iter_sections():
            if isinstance(section, GNUVerNeedSection):
                for _, auxiliaries in section.iter_versions():
                    needed += [aux.name for aux in auxiliaries if aux.name.startswith("GLIBC_")]
        return [version_tuple(name.removeprefix("GLIBC_")) for name in needed
                if re.fullmatch(r"GLIBC_\d+(\.\d+)*", name)]


def imported_functions(module: Path) -> set[str]:
    """The names of the undefined symbols of the module's dynamic symbol table."""
    with open(module, "rb") as f:
        table = ELFFile(f).get_section_by_name(".dynsym")
        if not isinstance(table, SymbolTableSection):
            return set()
        return {symbol.name for symbol in table.iter_symbols() if symbol["st_shndx"] == "SHN_UNDEF"}


def elf_machine(module: Path) -> str:
    with open(module, "rb") as f:
        return ELFFile(f).header["e_machine"]


def auditwheel_policy(wheel: Path) -> tuple[int, int, str]:
    """The (major, minor, arch) of the policy auditwheel show finds the wheel consistent with."""
    shown = subprocess.run(["auditwheel", "show", str(wheel)], capture_output=True, text=True, check=True).stdout
    match = re.search(r'consistent\s+with\s+the\s+following\s+platform\s+tag:\s+"manylinux_(\d+)_(\d+)_(\w+)"', shown)
    if match is None:
        raise ValueError(f"auditwheel show names no manylinux tag:\n{shown}")
    return int(match.group(1)), int(match.group(2)), match.group(3)


def check(wheel: Path, glibc: tuple[int, int]) -> list[str]:
    problems = []
    match = WHEEL_NAME.match(wheel.name)
    if match is None:
        return [f"{wheel.name}: not a CPython wheel name"]
    platform = match["platform"]
    tag = re.fullmatch(rf"manylinux_{glibc[0]}_{glibc[1]}_(x86_64|aarch64)", platform)
    if tag is None:
        return [f"{wheel.name}: platform tag {platform}, not manylinux_{glibc[0]}_{glibc[1]}_<arch>"]
    arch = tag.group(1)
    suffix = f"cpython-{match['abi'].removeprefix('cp')}-{arch}-linux-gnu.so"
    with zipfile.ZipFile(wheel) as archive, tempfile.TemporaryDirectory() as scratch:
        modules = [name for name in archive.namelist() if name.startswith("_rust_core.")]
        if modules != [f"_rust_core.{suffix}"]:
            return [f"{wheel.name}: holds {modules}, expected _rust_core.{suffix}"]
        module = Path(archive.extract(modules[0], scratch))
        machine = elf_machine(module)
        versions = glibc_versions_needed(module)
        missing = [name for name in C_LIBRARY_COPIES if name not in imported_functions(module)]
    if machine != ELF_MACHINES[arch]:
        problems.append(f"{wheel.name}: module is {machine}, not {arch}")
    highest = max(versions, default=(0,))
    if highest > glibc:
        problems.append(f"{wheel.name}: module needs GLIBC_{'.'.join(map(str, highest))}")
    if missing:
        problems.append(f"{wheel.name}: module does not take {', '.join(missing)} from the C library")
    major, minor, policy_arch = auditwheel_policy(wheel)
    if policy_arch != arch or (major, minor) > glibc:
        problems.append(f"{wheel.name}: auditwheel finds it consistent with manylinux_{major}_{minor}_{policy_arch}")
    print(f"   {wheel.name}: {machine}, highest symbol version GLIBC_{'.'.join(map(str, highest))}, "
          f"auditwheel: consistent with manylinux_{major}_{minor}_{policy_arch}")
    return problems


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--glibc", required=True, help="the newest glibc version the wheels may need, e.g. 2.28")
    parser.add_argument("wheels", nargs="+", type=Path)
    args = parser.parse_args()
    glibc = version_tuple(args.glibc)
    problems = [problem for wheel in args.wheels for problem in check(wheel, glibc)]
    for problem in problems:
        print("   " + problem, file=sys.stderr)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
