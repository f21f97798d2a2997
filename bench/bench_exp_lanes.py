"""Processor time per element of the lane exp of every instruction set the processor runs (both
variants), beside the C library's exp and log, over arguments in [-40, 0]: the cost of the
exponentials alone in a soft-DTW or GAK cell. Builds the native program exp_check first.

    .venv/bin/python bench/bench_exp_lanes.py [--count 20000000]
"""

import argparse
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tools"))
from check_exp_lanes import build  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--count", type=int, default=20_000_000)
    args = parser.parse_args()
    output = subprocess.run([str(build()), str(args.count), "5", "timing"], capture_output=True, text=True,
                            check=True).stdout.split("\n")
    print(f"ns per element (processor time, best of 5 runs of {args.count}); {output[0]}, {output[1]}")
    for line in filter(None, output[2:]):
        *name, ns = line.split()
        print(f"  {' '.join(name):<16}{float(ns):8.3f}")


if __name__ == "__main__":
    main()
