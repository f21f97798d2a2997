"""Timings of associate_to_niches_py and normalization_update_py.

    .venv/bin/python bench/bench_normalization_niching.py            # this process's settings
    RAYON_NUM_THREADS=1 .venv/bin/python bench/bench_normalization_niching.py
    .venv/bin/python bench/bench_normalization_niching.py --sweep    # 1 and 2 workers, each SIMD path

The worker count comes from RAYON_NUM_THREADS, the instruction set from RC_SIMD
(scalar, avx2, avx512; default: the best the processor has)."""

import argparse
import os
import subprocess
import sys
import time

import numpy as np

import _rust_core
from timing import measure


def bench_niching(repeats):
    rng = np.random.default_rng(1)
    for m, directions, n in [(10_000, 10_000, 5), (1_000, 1_000, 3), (500, 200, 10)]:
        f = rng.random((m, n))
        ref_dirs = rng.random((directions, n))
        ideal, nadir = np.zeros(n), np.ones(n)
        seconds, best, _ = measure(lambda: _rust_core.associate_to_niches_py(f, ref_dirs, ideal, nadir), repeats)
        print(f"niching       m={m:>6} R={directions:>6} n={n:>2}: {seconds * 1e3:9.2f} ms"
              f"  {seconds / (m * directions) * 1e9:6.3f} ns/pair  (best {best * 1e3:.2f} ms)")


def bench_normalization(repeats):
    rng = np.random.default_rng(2)
    for m, n in [(100, 3), (500, 5), (1_000, 10), (10_000, 15)]:
        f = rng.random((m, n))
        # A concave front plus dominated rows: the hyperplane path with a usable plane.
        front = np.arange(0, m, 2, dtype=np.int64)
        f[front] /= np.linalg.norm(f[front], axis=1, keepdims=True)
        ideal = np.full(n, 0.1)
        seconds, best, _ = measure(lambda: _rust_core.normalization_update_py(ideal, f, front, n), repeats)
        print(f"normalization m={m:>6} t={len(front):>6} n={n:>2}: {seconds * 1e6:9.1f} us"
              f"  {seconds / (m * n) * 1e9:6.2f} ns/value  (best {best * 1e6:.1f} us)")


def sweep():
    for simd in ("avx512", "avx2", "scalar"):
        for workers in ("1", "2"):
            print(f"--- RC_SIMD={simd} RAYON_NUM_THREADS={workers}", flush=True)
            env = dict(os.environ, RC_SIMD=simd, RAYON_NUM_THREADS=workers)
            subprocess.run([sys.executable, __file__, "--repeats", "11"], env=env, check=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--sweep", action="store_true", help="run each SIMD path with 1 and 2 workers")
    args = parser.parse_args()
    if args.sweep:
        sweep()
        return
    bench_niching(args.repeats)
    bench_normalization(args.repeats)


if __name__ == "__main__":
    main()
