"""Benchmark suite for all sixteen functions.

Each case runs in a fresh subprocess per worker count (the pool's size is fixed per process),
times several repeats after a warm-up, and reports the median per cell / point, the ratio of
one worker to all workers, and the peak resident memory the call added. The table goes to
stdout, the figures to bench/results/<timestamp>.json so a later run can be compared.

    python bench/run.py                  # every case, 1 worker and all workers
    python bench/run.py --quick          # smaller sizes, fewer repeats
    python bench/run.py --only dtw       # cases whose name contains "dtw"
    python bench/run.py --compare bench/results/A.json   # add a column with A's figures
"""

import argparse
import json
import os
import platform
import subprocess
import sys
import time

import numpy as np

from timing import measure

# name: (function, unit, builder(scale) -> (args, units))
rng = np.random.default_rng(1)


def series(n, d=1):
    return rng.normal(size=(n, d))


def sets(k, n, d=1):
    return rng.normal(size=(k, n, d))


def band_cells(n, r):
    return sum(min(n, i + r + 1) - max(0, i - r) for i in range(n))


CASES = {
    "squared_euclidean_cost_matrix d=8": ("squared_euclidean_cost_matrix", "cell",
        lambda s: ((series(2000 // s, 8), series(2000 // s, 8)), (2000 // s) ** 2)),
    "dtw d=1": ("dtw", "cell", lambda s: ((series(4000 // s), series(4000 // s), None), (4000 // s) ** 2)),
    "dtw d=1 band 100": ("dtw", "band cell",
        lambda s: ((series(20000 // s), series(20000 // s), 100), band_cells(20000 // s, 100))),
    "dtw_with_path_py d=1": ("dtw_with_path_py", "cell",
        lambda s: ((series(2000 // s), series(2000 // s), None), (2000 // s) ** 2)),
    "cdist_dtw 256x256 len 256 d=1": ("cdist_dtw", "cell",
        lambda s: ((sets(256 // s, 256), sets(256 // s, 256), None), (256 // s) ** 2 * 256**2)),
    "cdist_dtw 128x128 len 256 d=8": ("cdist_dtw", "cell",
        lambda s: ((sets(128 // s, 256, 8), sets(128 // s, 256, 8), None), (128 // s) ** 2 * 256**2)),
    "cdist_dtw self 256 len 256 band 25": ("cdist_dtw", "band cell",
        lambda s: ((x := sets(256 // s, 256), x, 25), (256 // s) ** 2 * band_cells(256, 25))),
    "soft_dtw d=1": ("soft_dtw", "cell", lambda s: ((series(1000 // s), series(1000 // s), 0.5), (1000 // s) ** 2)),
    "cdist_soft_dtw 32x32 len 256": ("cdist_soft_dtw", "cell",
        lambda s: ((sets(32 // s, 256), sets(32 // s, 256), 0.5), (32 // s) ** 2 * 256**2)),
    "gak d=1": ("gak", "cell", lambda s: ((series(1000 // s), series(1000 // s), 2.0), 3 * (1000 // s) ** 2)),
    "unnormalized_gak_py d=1": ("unnormalized_gak_py", "cell",
        lambda s: ((series(2000 // s), series(2000 // s), 2.0), (2000 // s) ** 2)),
    "cdist_gak 64x64 len 256": ("cdist_gak", "cell",
        lambda s: ((sets(64 // s, 256), sets(64 // s, 256), 2.0), (64 // s) ** 2 * 256**2)),
    "manhattan 100000x8": ("manhattan", "element",
        lambda s: ((series(100000 // s, 8), series(100000 // s, 8)), 800000 // s)),
    "cdist_manhattan 512x512 len 256": ("cdist_manhattan", "element",
        lambda s: ((sets(512 // s, 256), sets(512 // s, 256)), (512 // s) ** 2 * 256)),
    "das_dennis_py(10, 20)": ("das_dennis_py", "value", lambda s: ((10, 20 // s), None)),
    "fast_non_dominated_sort_py 10000x3": ("fast_non_dominated_sort_py", "point",
        lambda s: ((rng.random((10000 // s, 3)),), 10000 // s)),
    "fast_non_dominated_sort_py 100000x2": ("fast_non_dominated_sort_py", "point",
        lambda s: ((rng.random((100000 // s, 2)),), 100000 // s)),
    "fast_non_dominated_sort_py 100000x3": ("fast_non_dominated_sort_py", "point",
        lambda s: ((rng.random((100000 // s, 3)),), 100000 // s)),
    "fast_non_dominated_sort_py 100000x5": ("fast_non_dominated_sort_py", "point",
        lambda s: ((rng.random((100000 // s, 5)),), 100000 // s)),
    "associate_to_niches_py 10000x10000 n=5": ("associate_to_niches_py", "pair",
        lambda s: ((rng.random((10000 // s, 5)), rng.random((10000 // s, 5)), np.zeros(5), np.ones(5)), (10000 // s) ** 2)),
    "normalization_update_py 100000x5": ("normalization_update_py", "point",
        lambda s: ((np.full(5, np.inf), rng.random((100000 // s, 5)), np.arange(1000, dtype=np.int64), 5), 100000 // s)),
}


def peak_rss_bytes():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    return 0


def reset_peak_rss():
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
    except OSError:
        pass


def run_case(name, quick):
    import _rust_core

    function, unit, build = CASES[name]
    args, units = build(4 if quick else 1)
    f = getattr(_rust_core, function)
    if units is None:  # das_dennis: one unit per value written
        units = f(*args).size
    f(*args)  # warm-up: pool, NumPy import, page cache
    reset_peak_rss()
    base = peak_rss_bytes()
    timing = measure(lambda: f(*args), 3 if quick else 7, warm_up=False)
    return {"median_s": timing.median, "best_s": timing.best, "units": units, "unit": unit,
            "peak_mb": max(0, peak_rss_bytes() - base) / 2**20}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--only", default="")
    parser.add_argument("--case")
    parser.add_argument("--compare")
    parser.add_argument("--json", default=None)
    ns = parser.parse_args()
    if ns.case:
        print(json.dumps(run_case(ns.case, ns.quick)))
        return
    workers_all = len(os.sched_getaffinity(0))
    previous = json.load(open(ns.compare))["cases"] if ns.compare else {}
    results = {}
    header = f"{'case':<40}{'unit':>10}{'1 worker':>12}{f'{workers_all} workers':>12}{'speed-up':>9}{'peak MB':>9}"
    if previous:
        header += f"{'before':>12}"
    print(header)
    for name in CASES:
        if ns.only not in name:
            continue
        row = {}
        for workers in (1, workers_all):
            env = {**os.environ, "RAYON_NUM_THREADS": str(workers)}
            cmd = [sys.executable, __file__, "--case", name] + (["--quick"] if ns.quick else [])
            out = subprocess.run(cmd, env=env, capture_output=True, text=True, check=True).stdout
            row[workers] = json.loads(out)
        one, all_ = row[1], row[workers_all]
        per = lambda r: r["median_s"] / r["units"] * 1e9  # noqa: E731
        results[name] = {"unit": one["unit"], "ns_per_unit_1": per(one), "ns_per_unit_all": per(all_),
                         "workers_all": workers_all, "peak_mb": all_["peak_mb"], "median_s_1": one["median_s"],
                         "median_s_all": all_["median_s"]}
        line = (f"{name:<40}{one['unit']:>10}{per(one):>10.3f}ns{per(all_):>10.3f}ns"
                f"{one['median_s'] / all_['median_s']:>8.2f}x{all_['peak_mb']:>9.1f}")
        if name in previous:
            line += f"{previous[name]['ns_per_unit_all']:>10.3f}ns"
        print(line, flush=True)
    path = ns.json or os.path.join(os.path.dirname(__file__), "results", time.strftime("%Y%m%d-%H%M%S") + ".json")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        json.dump({"date": time.strftime("%Y-%m-%d %H:%M:%S"), "machine": platform.processor() or platform.machine(),
                   "cpus": workers_all, "quick": ns.quick, "cases": results}, f, indent=1)
    print(f"\nwritten to {path}")


if __name__ == "__main__":
    main()
