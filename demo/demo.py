"""End-to-end tour of _rust_core, as a host package would use it.

First it classifies warped, noisy multivariate time series by their nearest neighbour under DTW
(with a Sakoe-Chiba band), soft-DTW and the global alignment kernel, and shows one warping
path. Then it classifies three data sets of the UCR time series classification archive by
1-nearest-neighbour under Euclidean distance and DTW and sets the error rates beside the ones
the archive publishes. Last it runs a reference-point based many-objective evolutionary
algorithm on the three-objective DTLZ2 problem, whose true Pareto front is the positive octant
of the unit sphere, using all four optimisation kernels.

Run it with `make demo`, which installs matplotlib (the `demo` extra) and writes PNG plots to
the output folder (default ./output, or the first command-line argument). Without matplotlib
the demo still runs and prints its results.
"""

import math
import os
import sys
import time

import numpy as np

import _rust_core as rc
import ucr

SEED = 20261208


# --- time series: synthetic warped series ------------------------------------------------------

# Each class is an order of two events on the first feature, a narrow spike or a broad bump,
# with a plateau on the second feature between them. Where the events happen varies from series
# to series, which confuses lock-step distances but not warping ones.
CLASSES = ("spike-bump", "bump-spike", "spike-spike", "bump-bump")


def event(t: np.ndarray, kind: str, centre: float) -> np.ndarray:
    width = 0.015 if kind == "spike" else 0.06
    return np.exp(-((t - centre) ** 2) / (2 * width**2))


def warped_series(kind: str, length: int, rng: np.random.Generator) -> np.ndarray:
    t = np.linspace(0, 1, length)
    first, second = rng.uniform(0.1, 0.45), rng.uniform(0.55, 0.9)
    kinds = kind.split("-")
    a = event(t, kinds[0], first) + event(t, kinds[1], second)
    b = ((t > first) & (t < second)).astype(float) * 0.5
    return np.stack([a, b], axis=1) + rng.normal(scale=0.25, size=(length, 2))


def make_dataset(per_class: int, length: int, rng: np.random.Generator):
    series, labels = [], []
    for label, kind in enumerate(CLASSES):
        for _ in range(per_class):
            series.append(warped_series(kind, length, rng))
            labels.append(label)
    order = rng.permutation(len(series))
    return np.array(series)[order], np.array(labels)[order]


def nearest_neighbour_accuracy(distances: np.ndarray, train_labels, test_labels, larger_is_closer=False) -> float:
    pick = distances.argmax(axis=1) if larger_is_closer else distances.argmin(axis=1)
    return float(np.mean(train_labels[pick] == test_labels))


def timed(f, *args):
    start = time.perf_counter()
    result = f(*args)
    return result, time.perf_counter() - start


def synthetic_series_section(out_dir, plt):
    heading("Time series: nearest-neighbour classification of warped synthetic series")
    rng = np.random.default_rng(SEED)
    length = 96
    train_x, train_y = make_dataset(30, length, rng)
    test_x, test_y = make_dataset(20, length, rng)
    n_pairs = len(test_x) * len(train_x)
    print(f"Data: {len(train_x)} training and {len(test_x)} test series, {length} steps, 2 features, "
          f"{len(CLASSES)} classes ({', '.join(CLASSES)})")

    radius = length // 10
    rows = []
    d_band, t_band = timed(rc.cdist_dtw, test_x, train_x, radius)
    rows.append((f"DTW, band radius {radius}", nearest_neighbour_accuracy(d_band, train_y, test_y), t_band))
    d_full, t_full = timed(rc.cdist_dtw, test_x, train_x, None)
    rows.append(("DTW, no band", nearest_neighbour_accuracy(d_full, train_y, test_y), t_full))
    d_soft, t_soft = timed(rc.cdist_soft_dtw, test_x, train_x, 1.0)
    rows.append(("soft-DTW, gamma 1.0", nearest_neighbour_accuracy(d_soft, train_y, test_y), t_soft))
    k_gak, t_gak = timed(rc.cdist_gak, test_x, train_x, 2.0)
    rows.append(("GAK, sigma 2.0", nearest_neighbour_accuracy(k_gak, train_y, test_y, larger_is_closer=True), t_gak))
    d_l1, t_l1 = timed(rc.cdist_manhattan, test_x, train_x)
    rows.append(("Manhattan (no warping)", nearest_neighbour_accuracy(d_l1, train_y, test_y), t_l1))

    print(f"\n1-nearest-neighbour classification ({n_pairs} pairs per matrix):")
    print(f"  {'measure':<26}{'accuracy':>9}{'time':>11}")
    for name, accuracy, seconds in rows:
        print(f"  {name:<26}{accuracy:>9.1%}{seconds * 1e3:>9.1f} ms")

    a, b = test_x[0], train_x[int(d_band[0].argmin())]
    distance, path = rc.dtw_with_path_py(a, b, radius)
    assert distance == rc.dtw(a, b, radius)
    print(f"\nWarping path of test series 0 and its nearest neighbour: DTW {distance:.4f}, {len(path)} matched "
          f"pairs, from {path[0]} to {path[-1]}")

    if plt is not None:
        fig, ax = plt.subplots(figsize=(6, 5))
        order_test, order_train = np.argsort(test_y, kind="stable"), np.argsort(train_y, kind="stable")
        image = ax.imshow(d_band[np.ix_(order_test, order_train)], aspect="auto", cmap="viridis")
        ax.set_title(f"DTW distances (band {radius}), sorted by class")
        ax.set_xlabel("training series")
        ax.set_ylabel("test series")
        fig.colorbar(image)
        save(fig, out_dir, "dtw_matrix.png")

        fig, (top, bottom) = plt.subplots(2, 1, figsize=(7, 6))
        top.plot(a[:, 0], label="test series 0")
        top.plot(b[:, 0] + 3, label="nearest neighbour (+3)")
        for i, j in path[::4]:
            top.plot([i, j], [a[i, 0], b[j, 0] + 3], color="grey", lw=0.4)
        top.legend(loc="upper right")
        top.set_title("DTW alignment (first feature)")
        steps = np.array(path)
        bottom.plot(steps[:, 1], steps[:, 0])
        bottom.set_xlabel("step of neighbour")
        bottom.set_ylabel("step of test series")
        bottom.set_title("warping path")
        fig.tight_layout()
        save(fig, out_dir, "warping_path.png")


# --- time series: UCR archive data sets ---------------------------------------------------------


def error_rate(distances: np.ndarray, train_labels, test_labels) -> float:
    """Test error of 1-nearest-neighbour classification; of tied neighbours the first counts."""
    return float(np.mean(train_labels[distances.argmin(axis=1)] != test_labels))


def ucr_section(out_dir, plt):
    heading("Real data: 1-nearest-neighbour error rates on the UCR archive")
    print("Euclidean distance is cdist_dtw with band radius 0 (only the diagonal is allowed); DTW has no band.")
    print(f"  {'data set':<18}{'train':>6}{'test':>6}{'length':>7}   {'Euclidean: ours / published':>28}"
          f"   {'DTW: ours / published':>22}{'time':>10}")
    results = []
    for name, (published_ed, published_dtw) in ucr.PUBLISHED_ERROR.items():
        train_x, train_y = ucr.load(name, "TRAIN")
        test_x, test_y = ucr.load(name, "TEST")
        start = time.perf_counter()
        ed = error_rate(rc.cdist_dtw(test_x, train_x, 0), train_y, test_y)
        dtw = error_rate(rc.cdist_dtw(test_x, train_x, None), train_y, test_y)
        seconds = time.perf_counter() - start
        results.append((name, train_x, train_y, ed, dtw))
        print(f"  {name:<18}{len(train_x):>6}{len(test_x):>6}{train_x.shape[1]:>7}   "
              f"{ed:>19.4f} / {published_ed:.4f}   {dtw:>13.4f} / {published_dtw:.4f}{seconds * 1e3:>7.0f} ms")
    agree = all(round(ed, 4) == ucr.PUBLISHED_ERROR[name][0] and round(dtw, 4) == ucr.PUBLISHED_ERROR[name][1]
                for name, _, _, ed, dtw in results)
    print("  every error rate " + ("equals the published one to its four places" if agree else
                                   "does NOT match the published one"))

    if plt is not None:
        fig, axes = plt.subplots(1, len(results), figsize=(4.2 * len(results), 3.6))
        for ax, (name, train_x, train_y, ed, dtw) in zip(axes, results):
            for colour, label in zip(("tab:blue", "tab:orange", "tab:green"), np.unique(train_y)):
                members = train_x[train_y == label, :, 0]
                ax.plot(members.T, color=colour, lw=0.6, alpha=0.5)
                ax.plot([], [], color=colour, label=f"class {label} ({len(members)})")
            ax.set_title(f"{name}\n1-NN error: Euclidean {ed:.4f}, DTW {dtw:.4f}", fontsize=9)
            ax.set_xlabel("time step")
            ax.legend(fontsize=7, loc="best")
        axes[0].set_ylabel("value (z-normalised)")
        fig.suptitle("UCR training series by class; our error rates "
                     + ("equal the archive's" if agree else "differ from the archive's"), fontsize=10)
        fig.tight_layout()
        save(fig, out_dir, "ucr_series.png")


# --- many-objective optimisation: DTLZ2 -------------------------------------------------------


def dtlz2(x: np.ndarray, n_obj: int) -> np.ndarray:
    g = np.sum((x[:, n_obj - 1 :] - 0.5) ** 2, axis=1)
    f = np.tile((1 + g)[:, None], (1, n_obj))
    for m in range(n_obj):
        f[:, m] *= np.prod(np.cos(x[:, : n_obj - 1 - m] * np.pi / 2), axis=1)
        if m > 0:
            f[:, m] *= np.sin(x[:, n_obj - 1 - m] * np.pi / 2)
    return f


def simulated_binary_crossover(a, b, rng, eta=30.0):
    u = rng.random(a.shape)
    beta = np.where(u <= 0.5, (2 * u) ** (1 / (eta + 1)), (1 / (2 * (1 - u))) ** (1 / (eta + 1)))
    swap = rng.random(a.shape) < 0.5
    c1 = 0.5 * ((1 + beta) * a + (1 - beta) * b)
    c2 = 0.5 * ((1 - beta) * a + (1 + beta) * b)
    return np.clip(np.where(swap, c2, c1), 0, 1), np.clip(np.where(swap, c1, c2), 0, 1)


def polynomial_mutation(x, rng, eta=20.0):
    rate = 1.0 / x.shape[1]
    u = rng.random(x.shape)
    delta = np.where(u < 0.5, (2 * u) ** (1 / (eta + 1)) - 1, 1 - (2 * (1 - u)) ** (1 / (eta + 1)))
    mutate = rng.random(x.shape) < rate
    return np.clip(x + mutate * delta, 0, 1)


def niching_selection(n_needed, last_front, niches_last, distances_last, niche_count, rng):
    """Fills the remaining places from the last front, least crowded reference direction first;
    an empty direction takes its closest candidate, a crowded one a random candidate."""
    chosen = []
    available = np.ones(len(last_front), dtype=bool)
    niche_count = niche_count.copy()
    while len(chosen) < n_needed:
        open_niches = np.unique(niches_last[available])
        counts = niche_count[open_niches]
        niche = rng.choice(open_niches[counts == counts.min()])
        candidates = np.flatnonzero(available & (niches_last == niche))
        if niche_count[niche] == 0:
            pick = candidates[np.argmin(distances_last[candidates])]
        else:
            pick = candidates[rng.integers(len(candidates))]
        available[pick] = False
        chosen.append(last_front[pick])
        niche_count[niche] += 1
    return chosen


def optimisation_section(out_dir, plt):
    heading("Many-objective optimisation: a reference-point evolutionary algorithm on DTLZ2")
    rng = np.random.default_rng(SEED)
    n_obj, n_var, generations = 3, 12, 300
    ref_dirs = rc.das_dennis_py(n_obj, 12)
    pop_size = int(math.ceil(len(ref_dirs) / 4) * 4)
    x = rng.random((pop_size, n_var))
    f = dtlz2(x, n_obj)
    ideal = np.full(n_obj, np.inf)
    kernel_time = 0.0
    start = time.perf_counter()
    for _ in range(generations):
        mates = rng.permutation(pop_size).reshape(-1, 2)
        c1, c2 = simulated_binary_crossover(x[mates[:, 0]], x[mates[:, 1]], rng)
        offspring = polynomial_mutation(np.vstack([c1, c2]), rng)
        merged_x = np.vstack([x, offspring])
        merged_f = np.vstack([f, dtlz2(offspring, n_obj)])

        t0 = time.perf_counter()
        fronts = rc.fast_non_dominated_sort_py(merged_f)
        survivors, last = [], None
        for front in fronts:
            if len(survivors) + len(front) > pop_size:
                last = front
                break
            survivors.extend(front.tolist())
        ideal, nadir = rc.normalization_update_py(ideal, merged_f, fronts[0], n_obj)
        if last is not None:
            candidates = np.array(survivors + last.tolist(), dtype=np.int64)
            niches, distances = rc.associate_to_niches_py(merged_f[candidates], ref_dirs, ideal, nadir)
            kernel_time += time.perf_counter() - t0
            k = len(survivors)
            niche_count = np.bincount(niches[:k], minlength=len(ref_dirs))
            survivors += niching_selection(pop_size - k, last, niches[k:], distances[k:], niche_count, rng)
        else:
            kernel_time += time.perf_counter() - t0
        x, f = merged_x[survivors], merged_f[survivors]
    elapsed = time.perf_counter() - start

    first = rc.fast_non_dominated_sort_py(f)[0]
    radii = np.linalg.norm(f[first], axis=1)
    _, distances = rc.associate_to_niches_py(f[first], ref_dirs, np.zeros(n_obj), np.ones(n_obj))
    covered = len(np.unique(rc.associate_to_niches_py(f[first], ref_dirs, np.zeros(n_obj), np.ones(n_obj))[0]))
    print(f"DTLZ2, {n_obj} objectives, {n_var} variables: {generations} generations of {pop_size} solutions, "
          f"{len(ref_dirs)} Das-Dennis reference directions")
    print(f"  run time {elapsed:.2f} s, of which the four kernels {kernel_time * 1e3:.0f} ms")
    print(f"  final first front: {len(first)} solutions, covering {covered} of {len(ref_dirs)} directions")
    print(f"  distance to the true front (unit sphere): mean {np.mean(np.abs(radii - 1)):.2e}, "
          f"max {np.max(np.abs(radii - 1)):.2e}")
    print(f"  mean perpendicular distance to the assigned direction: {np.mean(distances):.3f}")

    if plt is not None:
        fig = plt.figure(figsize=(12, 5.6))
        ax = fig.add_subplot(1, 2, 1, projection="3d")
        on_sphere = ref_dirs / np.linalg.norm(ref_dirs, axis=1)[:, None]
        for direction in on_sphere:
            ax.plot(*np.stack([np.zeros(3), 1.15 * direction]).T, color="tab:red", lw=0.5, alpha=0.45)
        ax.plot([], [], color="tab:red", lw=0.8, label=f"{len(ref_dirs)} reference directions")
        ax.scatter(*f[first].T, s=14, color="tab:blue", depthshade=False, label="final front")
        ax.set_xlabel("f1")
        ax.set_ylabel("f2")
        ax.set_zlabel("f3")
        ax.view_init(25, 45)
        ax.legend(loc="upper left")
        ax.set_title("DTLZ2 front and the reference directions")

        # Looking down the diagonal: every direction and every solution projected onto the plane
        # f1 + f2 + f3 = 1, where the Das-Dennis directions form a triangular grid.
        corners = np.array([[0.0, 0.0], [1.0, 0.0], [0.5, np.sqrt(3) / 2]])
        ax2 = fig.add_subplot(1, 2, 2)
        ax2.plot(*np.vstack([corners, corners[:1]]).T, color="grey", lw=0.8)
        ax2.scatter(*(ref_dirs @ corners).T, marker="+", s=70, color="tab:red", label="reference directions")
        ax2.scatter(*((f[first] / f[first].sum(axis=1)[:, None]) @ corners).T, s=12, color="tab:blue",
                    label="solutions of the final front")
        for corner, name in zip(corners, ("f1", "f2", "f3")):
            ax2.annotate(name, corner, textcoords="offset points", xytext=(0, -14 if corner[1] == 0 else 6),
                         ha="center")
        ax2.set_aspect("equal")
        ax2.axis("off")
        ax2.legend(loc="upper left", fontsize=8)
        ax2.set_title("projected onto the plane f1 + f2 + f3 = 1")
        fig.tight_layout()
        save(fig, out_dir, "pareto_front.png")


# --- report --------------------------------------------------------------------------------


def heading(title: str) -> None:
    print(f"\n{title}\n{'-' * len(title)}")


def save(fig, out_dir, name):
    os.makedirs(out_dir, exist_ok=True)
    path = os.path.join(out_dir, name)
    fig.savefig(path, dpi=110)
    fig.clf()
    print(f"  wrote {path}")


def main() -> None:
    out_dir = sys.argv[1] if len(sys.argv) > 1 else "output"
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        plt = None
    print(f"_rust_core: {len(rc.__all__)} functions, rust_available() = {rc.rust_available()}")
    synthetic_series_section(out_dir, plt)
    ucr_section(out_dir, plt)
    optimisation_section(out_dir, plt)
    if plt is None:
        print("\n(matplotlib is not installed: no plots; `make demo` or `pip install .[demo]` adds it)")
    else:
        print(f"\nPlots are in {os.path.abspath(out_dir)}")


if __name__ == "__main__":
    main()
