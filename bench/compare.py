"""Our kernels against the libraries a user would otherwise pick, side by side in one process.

Every case builds one input, runs our function and the other library's on it alternately
(after a warm-up call each, which also compiles the Numba-based libraries), and reports the
median wall time of each, the ratio, the worker threads each side was given, and whether the
values agree: bit for bit, or to how many units in the last place and why they differ. The
other libraries are called through their documented Python functions only.

    .venv-compare/bin/python bench/compare.py                 # all workers, table on stdout
    .venv-compare/bin/python bench/compare.py --workers 1     # one worker on both sides
    .venv-compare/bin/python bench/compare.py --markdown      # the table for the README

`make compare` builds .venv-compare (bench/compare-requirements.txt plus this module) and runs it.
"""

import argparse
import datetime
import importlib.metadata
import os
import platform
import statistics
import sys
import time
import warnings

parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
parser.add_argument("--workers", type=int, default=len(os.sched_getaffinity(0)),
                    help="threads for both sides (default: the processors available)")
parser.add_argument("--repeats", type=int, default=5, help="timed calls per side and case (median taken)")
parser.add_argument("--quick", action="store_true", help="smaller inputs, 3 repeats")
parser.add_argument("--only", default="", help="run only the cases whose name contains this text")
parser.add_argument("--markdown", action="store_true", help="print the table as Markdown")
args = parser.parse_args()
if args.quick:
    args.repeats = min(args.repeats, 3)

# Worker counts must be in the environment before the libraries start their pools: ours reads
# RAYON_NUM_THREADS once, OpenMP (dtaidistance) OMP_NUM_THREADS, Numba NUMBA_NUM_THREADS, and the
# BLAS under NumPy (pymoo's matrix products) its own variables.
for variable in ("RAYON_NUM_THREADS", "OMP_NUM_THREADS", "NUMBA_NUM_THREADS", "OPENBLAS_NUM_THREADS",
                 "MKL_NUM_THREADS"):
    os.environ[variable] = str(args.workers)
warnings.filterwarnings("ignore")

import numpy as np  # noqa: E402

import _rust_core as rc  # noqa: E402

rng = np.random.default_rng(20261209)
scale = 0.5 if args.quick else 1.0
W = args.workers


def sized(n: int) -> int:
    return max(4, int(n * scale))


def series_set(n: int, steps: int, d: int = 1) -> np.ndarray:
    return rng.normal(size=(sized(n), steps, d))


# --- agreement -------------------------------------------------------------------------------


def ulps(a, b) -> float:
    """Largest distance between corresponding entries in units of the last place of the larger."""
    a, b = np.asarray(a, dtype=np.float64), np.asarray(b, dtype=np.float64)
    both_nan = np.isnan(a) & np.isnan(b)
    unit = np.spacing(np.maximum(np.abs(a), np.abs(b)))
    with np.errstate(invalid="ignore"):
        gap = np.where(both_nan | (a == b), 0.0, np.abs(a - b) / unit)
    return float(np.max(gap)) if gap.size else 0.0


def agreement(ours, theirs, why: str = "", note: str = "") -> str:
    """How two results agree; ``why`` explains a difference, ``note`` qualifies an exact match."""
    ours, theirs = np.asarray(ours), np.asarray(theirs)
    if ours.shape != theirs.shape:
        return f"shapes differ: {ours.shape} vs {theirs.shape}"
    if np.array_equal(ours.view(np.uint64) if ours.dtype == np.float64 else ours,
                      theirs.view(np.uint64) if theirs.dtype == np.float64 else theirs):
        return "bit for bit" + (f" ({note})" if note else "")
    if ours.dtype != np.float64:
        return f"{int(np.sum(ours != theirs))} of {ours.size} entries differ" + (f" ({why})" if why else "")
    equal = int(np.sum(ours.view(np.uint64) == theirs.view(np.uint64)))
    worst = ulps(ours, theirs)
    relative = float(np.max(np.abs(ours - theirs) / np.maximum(np.abs(ours), np.finfo(float).tiny)))
    return (f"within {worst:.0f} ulp (rel. {relative:.1e}), {equal} of {ours.size} bit for bit"
            + (f"; {why}" if why else ""))


# --- the cases -------------------------------------------------------------------------------
# A case is registered with its description and the other library's function; its builder makes
# the inputs and returns (our call, their call, agree(our_result, their_result) -> text,
# our workers, their workers).

CASES = []
# The other libraries are black boxes here: where their values differ in the last bits, the
# difference is put down to another order of the same floating-point operations, not inspected.
SAME_FORMULA = "the same formula rounded in another operation order"


def case(name: str, library: str):
    def register(builder):
        CASES.append((name, library, builder))
        return builder
    return register


@case(f"cdist_dtw, {sized(100)}x{sized(100)} series of 256 steps, no band", "tslearn cdist_dtw")
def _():
    from tslearn.metrics import cdist_dtw

    x, y = series_set(100, 256), series_set(100, 256)
    return (lambda: rc.cdist_dtw(x, y, None), lambda: cdist_dtw(x, y, n_jobs=W),
            lambda o, t: agreement(o, t), W, W)


@case(f"cdist_dtw, {sized(100)}x{sized(100)} series of 256 steps, band radius 25", "tslearn cdist_dtw (sakoe_chiba)")
def _():
    from tslearn.metrics import cdist_dtw

    x, y = series_set(100, 256), series_set(100, 256)
    return (lambda: rc.cdist_dtw(x, y, 25),
            lambda: cdist_dtw(x, y, global_constraint="sakoe_chiba", sakoe_chiba_radius=25, n_jobs=W),
            lambda o, t: agreement(o, t), W, W)


@case(f"cdist_dtw, {sized(64)}x{sized(64)} series of 128 steps, 4 features", "tslearn cdist_dtw")
def _():
    from tslearn.metrics import cdist_dtw

    x, y = series_set(64, 128, 4), series_set(64, 128, 4)
    return (lambda: rc.cdist_dtw(x, y, None), lambda: cdist_dtw(x, y, n_jobs=W),
            lambda o, t: agreement(o, t), W, W)


@case("dtw_with_path_py, one pair of 2000 steps", "tslearn dtw_path")
def _():
    from tslearn.metrics import dtw_path

    a, b = rng.normal(size=(2000, 1)), rng.normal(size=(2000, 1))

    def agree(o, t):
        (our_distance, our_path), (their_path, their_distance) = o, t
        same_path = [tuple(p) for p in our_path] == [tuple(p) for p in their_path]
        return agreement(np.array([our_distance]), np.array([their_distance])) + (
            ", the same path" if same_path else ", paths differ (a tie broken the other way)")

    return lambda: rc.dtw_with_path_py(a, b, None), lambda: dtw_path(a, b), agree, 1, 1


@case(f"cdist_soft_dtw, {sized(32)}x{sized(32)} series of 128 steps, gamma 1", "tslearn cdist_soft_dtw")
def _():
    from tslearn.metrics import cdist_soft_dtw

    x, y = series_set(32, 128), series_set(32, 128)
    return (lambda: rc.cdist_soft_dtw(x, y, 1.0), lambda: cdist_soft_dtw(x, y, gamma=1.0, n_jobs=W),
            lambda o, t: agreement(o, t, SAME_FORMULA), W, W)


@case(f"cdist_gak, {sized(64)}x{sized(64)} series of 128 steps, sigma 4", "tslearn cdist_gak")
def _():
    from tslearn.metrics import cdist_gak

    x, y = series_set(64, 128), series_set(64, 128)
    return (lambda: rc.cdist_gak(x, y, 4.0), lambda: cdist_gak(x, y, sigma=4.0, n_jobs=W),
            lambda o, t: agreement(o, t, SAME_FORMULA), W, W)


@case(f"DTW matrix of a {sized(200)}-series set (256 steps) against itself", "dtaidistance distance_matrix_fast")
def _():
    from dtaidistance import dtw

    x = series_set(200, 256)
    flat = np.ascontiguousarray(x[:, :, 0])
    return (lambda: rc.cdist_dtw(x, x, None), lambda: dtw.distance_matrix_fast(flat, parallel=True),
            lambda o, t: agreement(o, t), W, W)


@case(f"DTW matrix of a {sized(200)}-series set (256 steps) against itself", "aeon dtw_pairwise_distance")
def _():
    from aeon.distances import dtw_pairwise_distance

    x = series_set(200, 256)
    channels_first = np.ascontiguousarray(x.transpose(0, 2, 1))
    return (lambda: rc.cdist_dtw(x, x, None), lambda: dtw_pairwise_distance(channels_first, n_jobs=W),
            lambda o, t: "its square root " + agreement(o, np.sqrt(t), "aeon returns the squared DTW cost; "
                                                        + SAME_FORMULA), W, W)


@case(f"Das-Dennis directions, 8 objectives, {12 if not args.quick else 8} partitions", "pymoo das-dennis")
def _():
    from pymoo.util.ref_dirs import get_reference_directions

    n_dim, partitions = 8, 12 if not args.quick else 8
    return (lambda: rc.das_dennis_py(n_dim, partitions),
            lambda: get_reference_directions("das-dennis", n_dim, n_partitions=partitions),
            lambda o, t: agreement(o, t, note="the same rows in the same order"), 1, 1)


@case(f"niche association, {sized(10_000):,} solutions x 495 directions, 5 objectives",
      "pymoo NSGA-III associate_to_niches")
def _():
    from pymoo.algorithms.moo.nsga3 import associate_to_niches

    f = rng.random((sized(10_000), 5))
    directions = rc.das_dennis_py(5, 8)
    ideal, nadir = f.min(axis=0), f.max(axis=0)

    def agree(o, t):
        (our_niches, our_distances), (their_niches, their_distances) = o, t[:2]
        return ("niches " + agreement(our_niches, their_niches, "near-ties between directions").replace(
                "bit for bit", "identical") + "; distances " + agreement(our_distances, their_distances, SAME_FORMULA))

    return (lambda: rc.associate_to_niches_py(f, directions, ideal, nadir),
            lambda: associate_to_niches(f, directions, ideal, nadir), agree, W, f"1 (NumPy; BLAS up to {W})")


def ranks_of(fronts, n):
    rank = np.empty(n, dtype=np.int64)
    for k, front in enumerate(fronts):
        rank[front] = k
    return rank


for n, m in ((10_000, 3), (100_000, 2)):
    def _(n=n, m=m):
        import moocore

        f = rng.random((sized(n), m))
        return (lambda: rc.fast_non_dominated_sort_py(f), lambda: moocore.pareto_rank(f),
                lambda o, t: "ranks " + agreement(ranks_of(o, len(f)), t).replace("bit for bit", "identical"),
                W, 1)

    case(f"non-dominated sorting, {sized(n):,} points x {m} objectives", "moocore pareto_rank")(_)


# --- run -------------------------------------------------------------------------------------


def timed(call):
    start = time.perf_counter()
    result = call()
    return result, time.perf_counter() - start


def machine() -> str:
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            model = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    memory = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / 2**30
    return f"{model}, {os.cpu_count()} vCPUs, {memory:.0f} GiB, Linux {platform.release()}"


def versions() -> str:
    names = ("numpy", "tslearn", "dtaidistance", "aeon", "pymoo", "moocore", "numba")
    found = []
    for name in names:
        try:
            found.append(f"{name} {importlib.metadata.version(name)}")
        except importlib.metadata.PackageNotFoundError:
            pass
    return ", ".join(found)


def main() -> None:
    print(f"{machine()}; Python {platform.python_version()}; {versions()}", file=sys.stderr)
    print(f"{datetime.date.today().isoformat()}, {W} worker(s) offered to both sides, median of "
          f"{args.repeats} alternating calls each", file=sys.stderr)
    rows = []
    for name, library, builder in CASES:
        if args.only not in name and args.only not in library:
            continue
        ours, theirs, agree, our_workers, their_workers = builder()
        our_result, _ = timed(ours)  # warm-up: the pool, page faults, Numba compilation
        their_result, _ = timed(theirs)
        our_times, their_times = [], []
        for _ in range(args.repeats):
            our_times.append(timed(ours)[1])
            their_times.append(timed(theirs)[1])
        row = (name, library, statistics.median(our_times), statistics.median(their_times), our_workers,
               their_workers, agree(our_result, their_result))
        rows.append(row)
        if not args.markdown:
            print_row(row)
    if args.markdown:
        print("| case | other library | ours | theirs | theirs / ours | workers (ours / theirs) | values |")
        print("|---|---|---|---|---|---|---|")
        for name, library, our_time, their_time, ow, tw, values in rows:
            print(f"| {name} | {library} | {seconds(our_time)} | {seconds(their_time)} | "
                  f"{their_time / our_time:.1f}× | {ow} / {tw} | {values} |")


def seconds(t: float) -> str:
    if t < 1e-3:
        return f"{t * 1e6:.0f} µs"
    return f"{t * 1e3:.1f} ms" if t < 1 else f"{t:.2f} s"


def print_row(row) -> None:
    name, library, our_time, their_time, ow, tw, values = row
    print(f"{name}\n    vs {library}: ours {seconds(our_time)} ({ow} worker(s)), theirs {seconds(their_time)} "
          f"({tw} worker(s)), {their_time / our_time:.1f}x; values {values}", flush=True)


if __name__ == "__main__":
    main()
