"""fast_non_dominated_sort_py beside moocore.pareto_rank, in one process, cell by cell.

moocore is not a dependency of this package: it comes from the comparison environment (a
venv with numpy and moocore installed from PyPI and this module built into it) and is only
called, as a black box. Both sort the same arrays; each cell reports the median of several
calls, alternating ours and moocore so that a busy machine slows both alike.

Ours runs with one worker in this process (both then compute on the calling thread, so --cpu
can time them by its CPU time when other jobs share the machine). Unless --workers 1 is
given, a child process with RAYON_NUM_THREADS=2 first times ours and moocore again on the
same arrays, by wall time, for the two-worker columns (the ratio is against moocore timed
beside it there).

    python bench/bench_nds_compare.py                      # the whole grid, three kinds
    python bench/bench_nds_compare.py --kinds uniform --max-n 2000
    python bench/bench_nds_compare.py --cells 424x5,2000x15 --kinds uniform

Kinds: uniform (the unit cube), sphere (the positive orthant of the unit sphere: one
front), midrun (sphere directions at radius 1 + Exp(0.05), rounded to 4 decimals: several
fronts, some duplicates, as a population halfway through a run looks).
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import time

# NumPy's BLAS threads would spin beside the timed calls on a small machine; no BLAS is used.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

SIZES = [200, 500, 2_000, 10_000, 100_000]
OBJECTIVES = [2, 3, 4, 5, 8, 10, 15]
KINDS = ["uniform", "sphere", "midrun"]


def points(kind, n, m):
    rng = np.random.default_rng(1000 * n + m + 7 * KINDS.index(kind))
    if kind == "uniform":
        return rng.random((n, m))
    directions = np.abs(rng.normal(size=(n, m)))
    directions /= np.linalg.norm(directions, axis=1, keepdims=True)
    if kind == "sphere":
        return directions
    return np.round(directions * (1.0 + rng.exponential(0.05, size=(n, 1))), 4)


def budget_calls(n, m):
    """Repeats per cell: more for the quick cells, so every median has enough calls."""
    work = n * max(n, 1_000) * m
    if work <= 5e7:
        return 41
    if work <= 1e9:
        return 15
    if work <= 2e10:
        return 7
    return 3


def median_seconds(call, repeats):
    call()
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def interleaved_medians(calls, repeats, clock=time.perf_counter):
    """Median seconds of each call, calling them in turn (after one warm-up each)."""
    for call in calls:
        call()
    times = [[] for _ in calls]
    for _ in range(repeats):
        for slot, call in enumerate(calls):
            start = clock()
            call()
            times[slot].append(clock() - start)
    return [statistics.median(t) for t in times]


def ranks_from_fronts(fronts, n):
    rank = np.empty(n, dtype=np.int64)
    for k, front in enumerate(fronts):
        rank[front] = k  # moocore counts from 0
    return rank


def grid(args):
    cells = []
    if args.cells:
        for cell in args.cells.split(","):
            n, m = cell.lower().split("x")
            cells.extend((kind, int(n), int(m)) for kind in args.kinds)
    else:
        for kind in args.kinds:
            for n in SIZES:
                if n <= args.max_n:
                    cells.extend((kind, n, m) for m in OBJECTIVES)
    return cells


def child_main(args):
    """Ours (with this process's worker count) and moocore, by wall time; prints
    {cell: [ours, moocore]} as JSON."""
    import moocore

    import _rust_core

    out = {}
    for kind, n, m in grid(args):
        f = points(kind, n, m)
        out[f"{kind} {n} {m}"] = interleaved_medians(
            [lambda: _rust_core.fast_non_dominated_sort_py(f), lambda: moocore.pareto_rank(f)], budget_calls(n, m))
    print(json.dumps(out))


def two_worker_times(args):
    env = dict(os.environ, RAYON_NUM_THREADS="2")
    command = [sys.executable, __file__, "--child", "--kinds", *args.kinds, "--max-n", str(args.max_n)]
    if args.cells:
        command += ["--cells", args.cells]
    result = subprocess.run(command, env=env, capture_output=True, text=True, check=True)
    return json.loads(result.stdout)


def fmt(seconds):
    if seconds < 1e-3:
        return f"{seconds * 1e6:.0f} µs"
    if seconds < 1:
        return f"{seconds * 1e3:.2f} ms"
    return f"{seconds:.2f} s"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--kinds", nargs="+", default=KINDS, choices=KINDS)
    parser.add_argument("--max-n", type=int, default=max(SIZES))
    parser.add_argument("--cells", help="comma-separated NxM cells instead of the grid")
    parser.add_argument("--workers", type=int, choices=[1, 2], default=2, help="2: also time ours on two workers")
    parser.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--markdown", action="store_true", help="print the table as markdown")
    parser.add_argument("--cpu", action="store_true",
                        help="time the one-worker columns by the calling thread's CPU time "
                        "(steadier on a busy machine)")
    args = parser.parse_args()
    if args.child:
        child_main(args)
        return

    os.environ["RAYON_NUM_THREADS"] = "1"  # read when the pool is created, at the first call
    import moocore

    import _rust_core

    two = two_worker_times(args) if args.workers == 2 else {}
    sep = " | " if args.markdown else "  "
    header = ["kind", "n", "m", "fronts", "ours 1w", "moocore", "1w ratio", "ours 2w", "2w ratio"]
    if args.markdown:
        print("| " + " | ".join(header) + " |")
        print("|" + "---|" * len(header))
    else:
        print(f"{'kind':<8}{'n':>8}{'m':>4}{'fronts':>8}{'ours 1w':>12}{'moocore':>12}{'1w ratio':>10}"
              f"{'ours 2w':>12}{'2w ratio':>10}")
    ratios, disagreements = [], []
    for kind, n, m in grid(args):
        f = points(kind, n, m)
        fronts = _rust_core.fast_non_dominated_sort_py(f)
        same = np.array_equal(ranks_from_fronts(fronts, n), np.asarray(moocore.pareto_rank(f)))
        ours, peer = interleaved_medians(
            [lambda: _rust_core.fast_non_dominated_sort_py(f), lambda: moocore.pareto_rank(f)], budget_calls(n, m),
            time.thread_time if args.cpu else time.perf_counter)
        ours2, peer2 = two.get(f"{kind} {n} {m}", (None, None))
        ratio, ratio2 = peer / ours, (peer2 / ours2 if ours2 else None)
        ratios.append((kind, n, m, ratio, ratio2))
        cells = [kind, str(n), str(m), str(len(fronts)), fmt(ours), fmt(peer), f"{ratio:.2f}×",
                 fmt(ours2) if ours2 else "-", f"{ratio2:.2f}×" if ratio2 else "-"]
        if not same:
            cells[3] += "!"  # the two disagree: a bug somewhere
            disagreements.append(f"{kind} {n}x{m}")
        if args.markdown:
            print("| " + sep.join(cells) + " |")
        else:
            print(f"{cells[0]:<8}{cells[1]:>8}{cells[2]:>4}{cells[3]:>8}{cells[4]:>12}{cells[5]:>12}{cells[6]:>10}"
                  f"{cells[7]:>12}{cells[8]:>10}", flush=True)
    if disagreements:
        print("\nRANKS DIFFER from moocore's (marked !):", ", ".join(disagreements))
    one = [r[3] for r in ratios]
    print(f"\nratio moocore/ours, 1 worker: min {min(one):.2f}×, median {statistics.median(one):.2f}×")
    small = [r[3] for r in ratios if r[1] <= 2_000]
    if small:
        print(f"  cells with n <= 2000: min {min(small):.2f}×")
    large = [r[4] for r in ratios if r[1] >= 10_000 and r[4]]
    if large:
        print(f"2 workers, cells with n >= 10000: min {min(large):.2f}×")


if __name__ == "__main__":
    main()
