"""The long check of the lane exp and the log bracket: 10^9 arguments (by default) per instruction
set against the C library's exp, and as many sums against its log, once for the library's default
variant and once for its variant without fused multiply-add, each time only for the exp variant
the module chooses. Builds the native program
exp_check first (as tests/test_exp_lanes.py does, which runs 10^6). Takes tens of minutes; run
it niced on a shared machine:

    nice .venv/bin/python tools/check_exp_lanes.py [--count 1000000000] [--seed 11]
"""

import argparse
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "native-checks"
SETTINGS = {"library default": {}, "library without fma": {"GLIBC_TUNABLES": "glibc.cpu.hwcaps=-AVX2,-FMA"}}


def build():
    tools = Path(sys.executable).parent
    cmake, ninja = shutil.which("cmake", path=str(tools)), shutil.which("ninja", path=str(tools))
    subprocess.run([cmake, "-S", str(ROOT), "-B", str(BUILD), "-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={ninja}",
                    f"-DPython_EXECUTABLE={sys.executable}"], check=True, capture_output=True)
    subprocess.run([cmake, "--build", str(BUILD), "--target", "exp_check"], check=True, capture_output=True)
    return BUILD / "exp_check"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--count", type=int, default=10**9)
    parser.add_argument("--seed", type=int, default=11)
    args = parser.parse_args()
    program = build()
    failed = False
    for name, env in SETTINGS.items():
        start = time.monotonic()
        output = subprocess.run([str(program), str(args.count), str(args.seed), "chosen"],
                                env={**os.environ, **env}, capture_output=True, text=True, check=True).stdout
        lines = output.split("\n")
        print(f"{name}: {lines[0]}, {lines[1]}, {args.count} arguments each, {time.monotonic() - start:.0f} s")
        for line in filter(None, lines[2:]):
            target, variant, mismatches, first = line.split()
            what = "arguments outside the bracket" if variant == "bracket" else "mismatches"
            print(f"  {target:8} {variant}: {mismatches} {what}" + (f" (first at {first})" if mismatches != "0" else ""))
            failed |= mismatches != "0"
        failed |= lines[0] == "chosen library" or lines[1] != "bracketed 1"
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
