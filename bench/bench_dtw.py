"""Nanoseconds per DP cell of the DTW functions (median of several runs).

    .venv/bin/python bench/bench_dtw.py                 # every SIMD path, 1 and 2 workers
    .venv/bin/python bench/bench_dtw.py --simd avx2 --threads 1 [--repeats 7]

The SIMD path of cdist_dtw is forced through RC_SIMD and the worker count through
RAYON_NUM_THREADS; both are read once per process, so each combination runs in a process
of its own. A "cell" is one cell of one pair's accumulated-cost matrix (n * m per pair); for a
set against itself every pair of the square matrix is counted, although only half of the
pairs are computed.
"""

import argparse
import os
import subprocess
import sys
import time

from timing import measure

PATHS = ("scalar", "avx2", "avx512")


def cases():
    import numpy as np

    import _rust_core as rc

    rng = np.random.default_rng(1)
    a1, b1 = rng.normal(size=(64, 256, 1)), rng.normal(size=(64, 256, 1))
    a8, b8 = rng.normal(size=(32, 256, 8)), rng.normal(size=(32, 256, 8))
    s1, t1 = rng.normal(size=(256, 256, 1)), rng.normal(size=(256, 256, 1))
    nan1 = a1.copy()
    nan1[:, 100, 0] = np.nan
    x1, y1 = rng.normal(size=(2000, 1)), rng.normal(size=(2000, 1))
    x256, y256 = rng.normal(size=(256, 1)), rng.normal(size=(256, 1))
    x8, y8 = rng.normal(size=(1000, 8)), rng.normal(size=(1000, 8))
    return [
        ("cdist_dtw d=1 64x64 sets of 256 steps", lambda: rc.cdist_dtw(a1, b1, None), 64 * 64 * 256 * 256),
        ("cdist_dtw d=1 64x64, radius 25", lambda: rc.cdist_dtw(a1, b1, 25), 64 * 64 * 256 * 256),
        ("cdist_dtw d=1 64x64 with NaN in x", lambda: rc.cdist_dtw(nan1, b1, None), 64 * 64 * 256 * 256),
        ("cdist_dtw d=8 32x32 sets of 256 steps", lambda: rc.cdist_dtw(a8, b8, None), 32 * 32 * 256 * 256),
        ("cdist_dtw d=1 256x256 sets of 256 steps", lambda: rc.cdist_dtw(s1, t1, None), 256 * 256 * 256 * 256),
        ("cdist_dtw d=1 256-series set with itself", lambda: rc.cdist_dtw(s1, s1, None), 256 * 256 * 256 * 256),
        ("dtw d=1 256 x 256 steps", lambda: rc.dtw(x256, y256, None), 256 * 256),
        ("dtw d=1 2000 x 2000 steps", lambda: rc.dtw(x1, y1, None), 2000 * 2000),
        ("dtw d=8 1000 x 1000 steps", lambda: rc.dtw(x8, y8, None), 1000 * 1000),
        ("dtw d=1 2000 x 2000, radius 100", lambda: rc.dtw(x1, y1, 100), 2000 * 2000),
        ("dtw_with_path_py d=1 2000 x 2000", lambda: rc.dtw_with_path_py(x1, y1, None), 2000 * 2000),
    ]


def run_here(repeats):
    for name, call, cells in cases():
        median, best, _ = measure(call, repeats)
        print(
            f"  {name:45s} {median * 1e9 / cells:7.3f} ns/cell median, {best * 1e9 / cells:7.3f} best"
            f"   ({median * 1e3:8.2f} ms)",
            flush=True,
        )


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--simd", choices=PATHS)
    parser.add_argument("--threads", type=int)
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()
    if args.simd or args.threads:
        run_here(args.repeats)
        return
    for simd in PATHS:
        for threads in (1, 2):
            print(f"RC_SIMD={simd} RAYON_NUM_THREADS={threads}", flush=True)
            env = {**os.environ, "RC_SIMD": simd, "RAYON_NUM_THREADS": str(threads)}
            command = [sys.executable, __file__, "--simd", simd, "--threads", str(threads), "--repeats", str(args.repeats)]
            subprocess.run(command, env=env, check=True)


if __name__ == "__main__":
    main()
