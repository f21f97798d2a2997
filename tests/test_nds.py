import contextlib
import math
import os
import pickle

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _rust_core
from helpers import arrays, relayout, run_python, running_targets, to_lists, values
from reference_nds import fast_non_dominated_sort as reference

nds = _rust_core.fast_non_dominated_sort_py
nan, inf = math.nan, math.inf


@contextlib.contextmanager
def forced_method(name):
    """RC_NDS=classic makes the module use the pairwise algorithm even without NaN; for four
    or more objectives =lists and =tree force the front search over front lists or over a k-d
    tree (and keep it for a few rows with more objectives, which otherwise go to the classic
    path)."""
    old = os.environ.get("RC_NDS")
    os.environ["RC_NDS"] = name
    try:
        yield
    finally:
        if old is None:
            del os.environ["RC_NDS"]
        else:
            os.environ["RC_NDS"] = old


def classic_path():
    return forced_method("classic")


def as_lists(fronts):
    assert isinstance(fronts, list)
    for front in fronts:
        assert isinstance(front, np.ndarray) and front.dtype == np.int64 and front.ndim == 1
        assert front.flags.c_contiguous and front.flags.writeable and len(front) > 0
    return [front.tolist() for front in fronts]


def both_paths(f):
    """The fronts of the default dispatch and of the forced classic path (must agree)."""
    default = as_lists(nds(f))
    with classic_path():
        classic = as_lists(nds(f))
    assert default == classic
    return default


WORKED_EXAMPLES = [
    ([[1, 2], [2, 1], [2, 2], [3, 3]], [[0, 1], [2], [3]]),
    ([[0, nan, 1], [1, 0, nan], [nan, 1, 0], [-1, -1, -1]], [[3], [0, 1, 2]]),
    ([[5.0, 7.0]], [[0]]),
    ([[1, nan], [2, nan]], [[0], [1]]),
    ([[nan, nan], [0, 0], [1, 1]], [[0, 1], [2]]),
    ([[-inf, 0], [0, 0]], [[0], [1]]),
    ([[1, 1], [1, 1], [2, 2], [2, 2]], [[0, 1], [2, 3]]),
    ([[0.0, 1], [-0.0, 1]], [[0, 1]]),
    ([[inf, 1], [inf, 2], [-inf, 3]], [[0, 2], [1]]),
]


@pytest.mark.parametrize(("rows", "expected"), WORKED_EXAMPLES)
def test_worked_examples(rows, expected):
    f = np.array(rows, dtype=np.float64)
    assert both_paths(f) == expected
    assert reference(to_lists(f)) == expected


@pytest.mark.parametrize("m", [0, 1, 3, 6])
def test_no_rows_give_no_fronts(m):
    assert both_paths(np.zeros((0, m))) == []


def test_no_objectives_put_every_row_in_one_front():
    assert both_paths(np.zeros((5, 0))) == [[0, 1, 2, 3, 4]]


def test_one_objective_ranks_distinct_values():
    f = np.array([[3.0], [1.0], [3.0], [-0.0], [0.0], [inf]])
    assert both_paths(f) == [[3, 4], [1], [0, 2], [5]]


@settings(max_examples=300, deadline=None)
@given(st.integers(0, 12).flatmap(lambda n: st.integers(0, 4).flatmap(lambda m: arrays((n, m)))))
def test_matches_reference_on_any_values_and_layout(f):
    expected = reference(to_lists(f))
    assert both_paths(f) == expected


# Few distinct values: duplicates, ties in some objectives, signed zeros and infinities.
tied = st.sampled_from([0.0, -0.0, 1.0, 2.0, inf, -inf])


@settings(max_examples=300, deadline=None)
@given(st.integers(1, 14).flatmap(lambda n: st.integers(1, 5).flatmap(lambda m: arrays((n, m), elements=tied))))
def test_matches_reference_on_tied_values(f):
    assert both_paths(f) == reference(to_lists(f))


def differential_inputs():
    """NaN-free inputs large enough for every branch of the fast path, by kind and size."""
    rng = np.random.default_rng(20240611)
    cases = []
    for m in (2, 3, 4, 5, 7):
        for n in (300, 2500):
            cases.append((f"uniform-m{m}-n{n}", rng.random((n, m))))
            cases.append((f"integers-m{m}-n{n}", rng.integers(0, 6, (n, m)).astype(np.float64)))
            base = rng.random((n // 8, m))
            cases.append((f"duplicates-m{m}-n{n}", base[rng.integers(0, len(base), n)]))
            tied_columns = rng.random((n, m))
            tied_columns[:, ::2] = np.round(tied_columns[:, ::2] * 3) - 1.0  # four values per column
            tied_columns[rng.random((n, m)) < 0.05] = -0.0
            tied_columns[rng.random((n, m)) < 0.02] = inf
            tied_columns[rng.random((n, m)) < 0.02] = -inf
            cases.append((f"ties-m{m}-n{n}", tied_columns))
            # Points near a plane: few fronts, wide ones.
            plane = rng.random((n, m))
            cases.append((f"plane-m{m}-n{n}", plane / plane.sum(axis=1, keepdims=True)))
        # Values a few units in the last place apart: equal in every leading byte of their bits.
        ulps = 1.0 + rng.integers(0, 40, (n, m)) * np.finfo(np.float64).eps
        cases.append((f"ulp-close-m{m}-n{n}", ulps))
        # Columns sorted through value buckets at their worst: a range that overflows, subnormal
        # steps, most values crowded into one bucket, a constant column with infinities.
        odd = rng.random((n, m))
        odd[:, 0] = rng.choice([-1.7e308, 1.7e308, 0.5, -0.0], n)
        odd[:, 1] = rng.integers(0, 50, n) * 5e-324
        if m > 2:
            odd[:, 2] = np.where(rng.random(n) < 0.9, rng.random(n) * 1e-300, rng.random(n))
        if m > 3:
            odd[:, 3] = rng.choice([2.0, 2.0, 2.0, inf, -inf], n)
        cases.append((f"odd-ranges-m{m}-n{n}", odd))
        # A chain: every row dominates all later ones, one front per row (shuffled).
        chain = np.repeat(np.arange(300.0)[:, None], m, axis=1)
        cases.append((f"chain-m{m}", chain[rng.permutation(300)]))
    # Around the size from which the front search may take the k-d tree after a sample (8,000
    # distinct points): one wide front, a few shells, many narrow fronts.
    for m in (4, 6):
        for n in (7999, 8000, 8001):
            directions = np.abs(rng.normal(size=(n, m)))
            sphere = directions / np.linalg.norm(directions, axis=1, keepdims=True)
            cases.append((f"sphere-m{m}-n{n}", sphere))
            cases.append((f"shells-m{m}-n{n}", np.round(sphere * (1.0 + rng.exponential(0.05, (n, 1))), 3)))
            cases.append((f"uniform-m{m}-n{n}", rng.random((n, m))))
    return cases


@pytest.mark.parametrize(("name", "f"), differential_inputs(), ids=lambda v: v if isinstance(v, str) else "")
def test_fast_path_agrees_with_classic(name, f):
    fronts = both_paths(f)
    assert sorted(i for front in fronts for i in front) == list(range(len(f)))


@pytest.mark.parametrize("where", ["first", "last"])
@pytest.mark.parametrize(("n", "m"), [(50, 1), (900, 1), (50, 2), (900, 2), (900, 3), (900, 5), (5000, 6)])
def test_one_nan_anywhere_gives_the_pairwise_fronts(n, m, where):
    """The fast path reads the caller's matrix without copying it and finds a NaN only on the
    way: a NaN in the very first or the very last value read (per column, across the two
    columns of the two-objective sweep, past the bucket-sort size) must still hand the whole
    call to the pairwise rule."""
    rng = np.random.default_rng(n * 10 + m)
    f = rng.integers(0, 6, (n, m)).astype(np.float64)
    f[(0, 0) if where == "first" else (n - 1, m - 1)] = nan
    fronts = both_paths(f)
    with forced_method("lists"):
        assert as_lists(nds(f)) == fronts


@pytest.mark.parametrize("m", [1, 2, 3, 5])
def test_negative_zero_counts_as_zero_in_large_inputs(m):
    rng = np.random.default_rng(m)
    f = rng.integers(-1, 2, (3000, m)).astype(np.float64)
    signed = f.copy()
    signed[(f == 0) & (rng.random(f.shape) < 0.5)] = -0.0
    assert np.signbit(signed[f == 0]).any()
    assert as_lists(nds(signed)) == as_lists(nds(f))


@pytest.mark.parametrize("layout", ["fortran", "reversed", "strided", "unaligned"])
@pytest.mark.parametrize("nan_fraction", [0.0, 0.1])
def test_layouts_give_the_fronts_of_a_contiguous_copy(layout, nan_fraction):
    rng = np.random.default_rng(7)
    f = rng.integers(0, 5, (400, 4)).astype(np.float64)
    f[rng.random(f.shape) < nan_fraction] = nan
    assert as_lists(nds(relayout(f, layout))) == as_lists(nds(np.ascontiguousarray(f)))
    assert as_lists(nds(f[::-1])) == as_lists(nds(np.ascontiguousarray(f[::-1])))


def test_rejects_other_types_with_the_parameter_note():
    for bad in ([[1.0, 2.0]], np.ones((2, 2), dtype=np.float32), np.ones(3)):
        with pytest.raises(TypeError) as info:
            nds(bad)
        assert "while processing 'f'" in info.value.__notes__
    assert as_lists(nds(f=np.ones((2, 2)))) == [[0, 1]]


WORKER_COUNT_SCRIPT = """
    import pickle, sys
    import numpy as np
    import _rust_core
    rng = np.random.default_rng(3)
    out = []
    for n, m, nan_fraction in [(3000, 3, 0.05), (3000, 5, 0.0), (61000, 5, 0.0), (1000, 2, 0.3)]:
        f = rng.integers(0, 50, (n, m)).astype(np.float64)
        f[rng.random(f.shape) < nan_fraction] = np.nan
        out.append([a.tolist() for a in _rust_core.fast_non_dominated_sort_py(f)])
    # Large enough to share the search between workers (from 4,096 points): in batches (front
    # lists from points x (objectives - 3) >= 50,000, the tree always), or, where a sample shows
    # few fronts, in an earlier and a later half. Many fronts, one front, a front per row; two
    # shells, whose outer points are often dominated by inner ones in the same batch or half;
    # three close shells, where a later point is raised by a later dominator that an earlier one
    # raised; an antichain where one earlier point dominates a later one, which alone dominates
    # the point right after it; the fewest points that share.
    directions = np.abs(rng.normal(size=(30000, 8)))
    sphere = directions / np.linalg.norm(directions, axis=1, keepdims=True)
    chain = np.repeat(rng.permutation(10000).astype(np.float64)[:, None], 8, axis=1)
    shells = np.abs(rng.normal(size=(12000, 4)))
    shells *= rng.choice([1.0, 1.02], (12000, 1)) / np.linalg.norm(shells, axis=1, keepdims=True)
    close = sphere[:9000, :4] / np.linalg.norm(sphere[:9000, :4], axis=1, keepdims=True)
    close = np.round(close * rng.choice([1.0, 1.02, 1.04], (9000, 1)), 3)
    antichain = np.column_stack([np.arange(6000.0), 6000.0 - np.arange(6000), rng.uniform(0.01, 1, (6000, 2))])
    antichain[1000, 2:] = 0.001
    antichain = np.vstack([antichain, [[4500, 5000.5, 0.002, 0.002], [4500.5, 5000.75, 0.003, 0.003]]])
    for f in (rng.random((10000, 8)), rng.random((25000, 5)), sphere, np.round(sphere * rng.uniform(1, 1.2, (30000, 1)), 2),
              chain, shells, close, antichain, sphere[:4096, :5], sphere[:4095, :5]):
        out.append([a.tolist() for a in _rust_core.fast_non_dominated_sort_py(f)])
    sys.stdout.buffer.write(pickle.dumps(out))
"""

# Every lane width of the front search's scan, 16- and 32-bit coordinates.
LANE_WIDTH_SCRIPT = """
    import pickle, sys
    import numpy as np
    import _rust_core
    rng = np.random.default_rng(4)
    out = []
    for n, m in [(3000, 4), (3000, 9), (3000, 15), (70000, 5)]:
        f = rng.random((n, m))
        f[: n // 2] = np.round(f[: n // 2], 1)
        out.append([a.tolist() for a in _rust_core.fast_non_dominated_sort_py(f)])
    sys.stdout.buffer.write(pickle.dumps(out))
"""


def fronts_from_script(threads: int, mode: str | None, script: str = WORKER_COUNT_SCRIPT, **env: str) -> list:
    """The fronts `script` pickles, run with `threads` workers, RC_NDS=mode (unset for None) and
    RC_SIMD unset unless given."""
    env = {"RC_SIMD": None, **env}
    result = run_python(script, text=False, RAYON_NUM_THREADS=str(threads), RC_NDS=mode, **env)
    return pickle.loads(result.stdout)


def many_objective_inputs():
    """NaN-free inputs with 4 to 15 objectives of every shape that changes the work of the
    front search: few wide fronts, one front, a front per row, duplicates and ties."""
    rng = np.random.default_rng(515)
    cases = []
    for m in range(4, 16):
        n = 400 if m % 2 else 700
        cases.append((f"uniform-m{m}", rng.random((n, m))))
        directions = np.abs(rng.normal(size=(n, m)))
        sphere = directions / np.linalg.norm(directions, axis=1, keepdims=True)
        cases.append((f"sphere-m{m}", sphere))
        shells = sphere * (1.0 + rng.exponential(0.05, size=(n, 1)))
        cases.append((f"shells-m{m}", np.round(shells, 2)))
        cases.append((f"grid-m{m}", rng.integers(0, 3, (n, m)).astype(np.float64)))
        base = rng.random((n // 10, m))
        cases.append((f"duplicates-m{m}", base[rng.integers(0, len(base), n)]))
        signed = rng.integers(-1, 2, (n, m)).astype(np.float64) * rng.choice([0.0, 1.0, 2.5], (n, m))
        signed[rng.random((n, m)) < 0.3] = -0.0
        signed[rng.random((n, m)) < 0.03] = inf
        signed[rng.random((n, m)) < 0.03] = -inf
        cases.append((f"signed-zeros-m{m}", signed))
        chain = np.repeat(np.arange(n, dtype=np.float64)[:, None], m, axis=1) + rng.random((n, 1)) * 0.5
        cases.append((f"chain-m{m}", chain[rng.permutation(n)]))
        # Long chains of wide fronts: every tenth of the rows on its own shifted sphere.
        cases.append((f"nested-spheres-m{m}", sphere + np.repeat(np.arange(10.0), n // 10 + 1)[:n, None]))
    # Fewer rows than objectives, with repeated rows: the automatic choice changes method.
    few = np.round(rng.random((40, 300)), 1)
    cases.append(("few-rows-m300", np.vstack([few, few[:5]])))
    # Beyond 65535 distinct values a column needs 32-bit coordinates in the front search.
    for m in (4, 7):
        cases.append((f"wide-values-m{m}", rng.random((70_000, m)) + np.arange(70_000.0)[:, None] * 1e-3))
    return cases


@pytest.mark.parametrize(("name", "f"), many_objective_inputs(), ids=lambda v: v if isinstance(v, str) else "")
def test_many_objective_methods_agree_with_classic(name, f):
    """Both indexes of the front search, each forced, give the classic fronts (beyond 5,000
    rows, where the classic path is quadratic, the two indexes and the default agree)."""
    reference_method = "lists" if len(f) > 5000 else "classic"
    with forced_method(reference_method):
        expected = as_lists(nds(f))
    assert as_lists(nds(f)) == expected
    for method in ("lists", "tree"):
        with forced_method(method):
            assert as_lists(nds(f)) == expected, method


@pytest.mark.parametrize("rows", [63, 64, 65])
@pytest.mark.parametrize("extra", [0, 1])
def test_few_rows_with_many_objectives(rows, extra):
    """Up to 64 rows with more objectives than rows take the classic path by default; the
    front search (forced) and rows just beyond either bound give the same fronts."""
    rng = np.random.default_rng(rows * 10 + extra)
    f = np.round(rng.random((rows, rows + extra)), 1)
    f[rows // 2] = f[0]  # a duplicate row
    expected = reference(to_lists(f))
    assert both_paths(f) == expected
    for method in ("lists", "tree"):
        with forced_method(method):
            assert as_lists(nds(f)) == expected, method


@pytest.mark.parametrize("mode", [None, "lists", "tree"])
def test_results_do_not_depend_on_the_worker_count(mode):
    assert fronts_from_script(1, mode) == fronts_from_script(3, mode) == fronts_from_script(2, mode)


def test_front_search_lane_widths_agree():
    """The front search's kernels of every instruction set (each forced where the machine
    has it), over front lists and over the tree, on one and two workers, give the fronts of
    the baseline kernels over front lists on one worker."""
    expected = fronts_from_script(1, "lists", LANE_WIDTH_SCRIPT, RC_SIMD="baseline")
    for path in running_targets():
        for mode in ("lists", "tree"):
            for threads in (1, 2):
                if (path, mode, threads) != ("baseline", "lists", 1):
                    assert fronts_from_script(threads, mode, LANE_WIDTH_SCRIPT, RC_SIMD=path) == expected, (path, mode)
