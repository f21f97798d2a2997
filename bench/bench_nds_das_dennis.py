"""Timings of fast_non_dominated_sort_py and das_dennis_py (median of repeats).

Run with the default worker count and with RAYON_NUM_THREADS=1 to see the effect of the
pool (only the classic, NaN path and the divide and conquer for four or more objectives use
it). Targets are for uniform random points on a 2-core machine.

    .venv/bin/python bench/bench_nds_das_dennis.py [--quick]
"""

import math
import os
import sys
import time

import numpy as np

import _rust_core
from timing import measure


def bench_sorting(quick):
    rng = np.random.default_rng(0)
    # (n, m, target seconds or None, repeats)
    cases = [
        (10_000, 3, 0.015, 15),
        (100_000, 2, 0.060, 7),
        (100_000, 3, 0.600, 5),
        (100_000, 5, 3.0, 3),
        (100_000, 4, None, 3),
        (20_000, 8, None, 3),
    ]
    print("fast_non_dominated_sort_py, uniform random points")
    print(f"{'n':>8} {'m':>3} {'fronts':>7} {'median':>10} {'per point':>10} {'target':>9}")
    for n, m, target, repeats in cases:
        if quick and n * m > 300_000:
            continue
        f = rng.random((n, m))
        fronts = len(_rust_core.fast_non_dominated_sort_py(f))
        seconds = measure(lambda: _rust_core.fast_non_dominated_sort_py(f), repeats, warm_up=False).median
        verdict = "" if target is None else ("ok" if seconds < target else "MISSED") + f" <{target * 1e3:.0f} ms"
        print(f"{n:>8} {m:>3} {fronts:>7} {seconds * 1e3:>8.1f} ms {seconds / n * 1e9:>7.0f} ns {verdict:>9}")

    # The classic pairwise path, taken for input with NaN: quadratic time and memory.
    n, m = (2_000, 3) if quick else (10_000, 3)
    f = rng.random((n, m))
    f[rng.random(f.shape) < 0.01] = np.nan
    seconds = measure(lambda: _rust_core.fast_non_dominated_sort_py(f), 3, warm_up=False).median
    print(f"classic path (1% NaN): n={n} m={m}: {seconds * 1e3:.1f} ms, {seconds / (n * n) * 1e9:.2f} ns per pair")


def bench_das_dennis(quick):
    n_dim, n_partitions = (8, 16) if quick else (10, 20)
    rows = math.comb(n_partitions + n_dim - 1, n_dim - 1)
    print(f"\ndas_dennis_py({n_dim}, {n_partitions}): {rows} rows, {rows * n_dim * 8 / 2**20:.0f} MiB")
    ours = measure(lambda: _rust_core.das_dennis_py(n_dim, n_partitions), 5, warm_up=False).median

    def fill():
        np.empty((rows, n_dim)).fill(0.5)

    plain = measure(fill, 5, warm_up=False).median
    print(f"  das_dennis_py       {ours * 1e3:8.1f} ms  ({ours / (rows * n_dim) * 1e9:.2f} ns per value)")
    print(f"  np.empty(...).fill  {plain * 1e3:8.1f} ms  (ratio {ours / plain:.2f})")


if __name__ == "__main__":
    quick = "--quick" in sys.argv
    print(f"RAYON_NUM_THREADS={os.environ.get('RAYON_NUM_THREADS', '(unset)')}\n")
    bench_sorting(quick)
    bench_das_dennis(quick)
