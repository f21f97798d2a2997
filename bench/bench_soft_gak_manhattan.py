"""Timing of soft-DTW, GAK and Manhattan: nanoseconds per cell of the accumulated matrix (per
element for Manhattan), for equal-length series of length 256 with 1 and 8 features.

Run directly: every worker count (and SIMD path, for Manhattan) is measured in a fresh process,
since the pool's size and the SIMD path are fixed on first use.

    .venv/bin/python bench/bench_soft_gak_manhattan.py [--workers 1 2] [--repeats 5]
        [--simd default scalar] [--libm default public] [--large]

--large measures instead the sizes where the exp and log calls dominate: cdist_soft_dtw of
32 x 32 series of 256 steps (iid and random walks), soft_dtw of 1000 x 1000 steps, cdist_gak of
64 x 64 series of 256 steps and unnormalized_gak_py of 2000 x 2000 steps, one feature.
"""

import argparse
import json
import os
import subprocess
import sys
import time

from timing import measure as time_calls

LENGTH = 256
FEATURES = (1, 8)


def measure(repeats, quick):
    import numpy as np

    import _rust_core as rc

    rng = np.random.default_rng(7)
    sets = 4 if quick else 16  # series per set in the cdist timings
    manhattan_sets = 64 if quick else 256
    rows = []
    for d in FEATURES:
        x = rng.standard_normal((sets, LENGTH, d)).cumsum(axis=1) * 0.1
        y = rng.standard_normal((sets, LENGTH, d)).cumsum(axis=1) * 0.1
        a, b = x[0], y[0]
        pair_cells = LENGTH * LENGTH
        matrix_cells = sets * sets * pair_cells
        # A bandwidth for which K(x, y) of these series stays finite and non-zero (no
        # subnormal arithmetic in the timings).
        sigma = 4.0 * float(np.sqrt(d))
        cases = [
            ("soft_dtw", lambda: rc.soft_dtw(a, b, 1.0), pair_cells),
            ("cdist_soft_dtw", lambda: rc.cdist_soft_dtw(x, y, 1.0), matrix_cells),
            ("unnormalized_gak_py", lambda: rc.unnormalized_gak_py(a, b, sigma), pair_cells),
            ("gak", lambda: rc.gak(a, b, sigma), pair_cells),
            # Includes the self-similarities of both sets (triangles, 2 * sets of them).
            ("cdist_gak", lambda: rc.cdist_gak(x, y, sigma), matrix_cells),
        ]
        mx = rng.standard_normal((manhattan_sets, LENGTH, d))
        my = rng.standard_normal((manhattan_sets, LENGTH, d))
        cases += [
            ("manhattan", lambda: rc.manhattan(mx[0], my[0]), LENGTH * d),
            ("cdist_manhattan", lambda: rc.cdist_manhattan(mx, my), manhattan_sets * manhattan_sets * LENGTH * d),
        ]
        for name, call, units in cases:
            wall, _, cpu = time_calls(call, repeats)
            rows.append({"name": name, "d": d, "ns": [wall * 1e9 / units, cpu * 1e9 / units]})
    return rows


def measure_large(repeats):
    import numpy as np

    import _rust_core as rc

    rng = np.random.default_rng(11)
    iid_x, iid_y = rng.standard_normal((32, LENGTH, 1)), rng.standard_normal((32, LENGTH, 1))
    walk_x = rng.standard_normal((32, LENGTH, 1)).cumsum(axis=1) * 0.1
    walk_y = rng.standard_normal((32, LENGTH, 1)).cumsum(axis=1) * 0.1
    gak_x = rng.standard_normal((64, LENGTH, 1)).cumsum(axis=1) * 0.1
    gak_y = rng.standard_normal((64, LENGTH, 1)).cumsum(axis=1) * 0.1
    a, b = (rng.standard_normal((1000, 1)).cumsum(axis=0) * 0.1 for _ in range(2))
    c, e = (rng.standard_normal((2000, 1)).cumsum(axis=0) * 0.1 for _ in range(2))
    sigma = 4.0  # K(x, y) of these series stays finite and non-zero
    cases = [
        ("cdist_soft_dtw iid 32x32", lambda: rc.cdist_soft_dtw(iid_x, iid_y, 1.0), 32 * 32 * LENGTH * LENGTH),
        ("cdist_soft_dtw walk 32x32", lambda: rc.cdist_soft_dtw(walk_x, walk_y, 1.0), 32 * 32 * LENGTH * LENGTH),
        ("soft_dtw 1000x1000", lambda: rc.soft_dtw(a, b, 1.0), 1000 * 1000),
        # Includes the self-similarities of both sets.
        ("cdist_gak 64x64", lambda: rc.cdist_gak(gak_x, gak_y, sigma), 64 * 64 * LENGTH * LENGTH),
        ("unnormalized_gak_py 2000", lambda: rc.unnormalized_gak_py(c, e, sigma), 2000 * 2000),
    ]
    rows = []
    for name, call, units in cases:
        wall, _, cpu = time_calls(call, repeats)
        rows.append({"name": name, "d": 1, "ns": [wall * 1e9 / units, cpu * 1e9 / units]})
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--workers", type=int, nargs="+", default=[1, 2])
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--quick", action="store_true", help="smaller sets, for a fast look")
    parser.add_argument("--simd", nargs="+", default=["default"],
                        help="RC_SIMD values to measure (default = best supported path)")
    parser.add_argument("--libm", nargs="+", default=["default"],
                        help="RC_LIBM values to measure (public = the C library's errno-setting entries)")
    parser.add_argument("--large", action="store_true", help="the large sizes (see above) instead")
    parser.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        print(json.dumps(measure_large(args.repeats) if args.large else measure(args.repeats, args.quick)))
        return

    results = {}
    configs = [(w, s, lm) for w in args.workers for s in args.simd for lm in args.libm]
    for workers, simd, libm in configs:
        env = dict(os.environ, RAYON_NUM_THREADS=str(workers))
        env.pop("RC_SIMD", None)
        env.pop("RC_LIBM", None)
        if simd != "default":
            env["RC_SIMD"] = simd
        if libm != "default":
            env["RC_LIBM"] = libm
        command = [sys.executable, __file__, "--child", "--repeats", str(args.repeats)]
        if args.quick:
            command.append("--quick")
        if args.large:
            command.append("--large")
        out = subprocess.run(command, env=env, check=True, capture_output=True, text=True).stdout
        for row in json.loads(out):
            results[(row["name"], row["d"], workers, simd, libm)] = row["ns"]

    names = list(dict.fromkeys(key[0] for key in results))
    print(f"ns per cell (per element for manhattan), series length {LENGTH}: wall time / CPU time of all"
          " threads (= per core)")
    width = max(22, max(len(name) for name in names) + 1)
    print(f"{'function':<{width}}{'d':>3}" + "".join(f"{f'{w} worker(s) {s} {lm}':>30}" for w, s, lm in configs))
    for name in names:
        for d in sorted({key[1] for key in results if key[0] == name}):
            cells = "".join(f"{'{:.2f} / {:.2f}'.format(*results[(name, d, *config)]):>30}" for config in configs)
            print(f"{name:<{width}}{d:>3}{cells}")


if __name__ == "__main__":
    main()
