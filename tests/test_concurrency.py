"""The worker pool and the module under concurrent use: worker counts, many Python threads,
racing first calls, fork, and interrupting a long call."""

import os
import signal
import subprocess
import sys
import sysconfig
import textwrap
import threading
import time

import numpy as np
import pytest

import _rust_core
from calls import VALID, present
import helpers
from helpers import PanicException

PARALLEL = ["cdist_dtw", "cdist_soft_dtw", "cdist_gak", "cdist_manhattan", "fast_non_dominated_sort_py",
            "associate_to_niches_py"]


def run_python(code: str, env: dict | None = None, timeout: float = 120) -> subprocess.CompletedProcess:
    """A fresh interpreter without the caller's pool settings, plus `env`."""
    return helpers.run_python(code, check=False, timeout=timeout,
                              **{"RAYON_NUM_THREADS": None, "RAYON_RS_NUM_CPUS": None, **(env or {})})


def as_comparable(result):
    """Results of the parallel functions as nested lists of bit patterns (NaN-safe equality)."""
    if isinstance(result, np.ndarray):
        return result.dtype.str, result.shape, result.view(np.uint64 if result.dtype == np.float64 else result.dtype).tobytes()
    if isinstance(result, (list, tuple)):
        return type(result).__name__, [as_comparable(r) for r in result]
    return result


def available_processors() -> int:
    count = len(os.sched_getaffinity(0))
    try:
        quota, period = open("/sys/fs/cgroup/cpu.max").read().split()
        if quota != "max":
            count = min(count, max(1, int(quota) // int(period)))
    except (OSError, ValueError):
        pass
    return count


WORKER_COUNT_PROBE = """
    import os, numpy as np, _rust_core
    before = len(os.listdir('/proc/self/task'))
    _rust_core.{name}(*{args})
    print(len(os.listdir('/proc/self/task')) - before)
"""


class TestWorkerCount:
    @pytest.mark.parametrize(
        "env, expected",
        [
            ({"RAYON_NUM_THREADS": "1"}, 1),
            ({"RAYON_NUM_THREADS": "+3"}, 3),
            ({"RAYON_NUM_THREADS": "3", "RAYON_RS_NUM_CPUS": "5"}, 3),
            ({"RAYON_NUM_THREADS": "abc", "RAYON_RS_NUM_CPUS": "2"}, 2),
            ({"RAYON_NUM_THREADS": "-2", "RAYON_RS_NUM_CPUS": "4"}, 4),
            ({"RAYON_NUM_THREADS": " 2", "RAYON_RS_NUM_CPUS": "5"}, 5),
            ({"RAYON_NUM_THREADS": "0", "RAYON_RS_NUM_CPUS": "5"}, None),
            ({}, None),
            ({"RAYON_RS_NUM_CPUS": "0"}, None),
        ],
    )
    def test_rule(self, env, expected):
        name = PARALLEL[0]
        args = f"(np.ones((3, 4, 1)), np.ones((2, 4, 1))) + ({VALID[name][2:]!r} if {len(VALID[name])} > 2 else ())"
        if name in ("fast_non_dominated_sort_py",):
            args = "(np.random.rand(50, 2),)"
        result = run_python(WORKER_COUNT_PROBE.format(name=name, args=args), env)
        assert result.returncode == 0, result.stderr
        assert int(result.stdout) == (available_processors() if expected is None else expected)

    def test_changing_the_environment_later_has_no_effect(self):
        name = PARALLEL[0]
        code = f"""
            import os, numpy as np, _rust_core
            from calls import VALID
            f, args = _rust_core.{name}, VALID[{name!r}]
            f(*args)
            count = len(os.listdir('/proc/self/task'))
            os.environ['RAYON_NUM_THREADS'] = '7'
            f(*args)
            print(len(os.listdir('/proc/self/task')) - count)
        """
        result = run_python(code, {"RAYON_NUM_THREADS": "2", "PYTHONPATH": os.path.dirname(__file__)})
        assert result.returncode == 0, result.stderr
        assert result.stdout.strip() == "0"

    def test_results_independent_of_worker_count(self):
        code = """
            import pickle, sys, _rust_core
            from calls import VALID, present
            from test_concurrency import PARALLEL, as_comparable
            sys.stdout.buffer.write(pickle.dumps({n: as_comparable(getattr(_rust_core, n)(*VALID[n])) for n in PARALLEL}))
        """
        import pickle

        outputs = []
        for workers in ("1", "3"):
            result = helpers.run_python(code, text=False, timeout=120, RAYON_NUM_THREADS=workers)
            outputs.append(pickle.loads(result.stdout))
        assert outputs[0] == outputs[1]


class TestThreads:
    def test_many_threads_get_identical_results(self):
        expected = {name: as_comparable(getattr(_rust_core, name)(*VALID[name])) for name in PARALLEL}
        n_threads, rounds = 6, 30
        barrier = threading.Barrier(n_threads)
        failures = []

        def worker(seed):
            order = np.random.default_rng(seed).permutation(len(PARALLEL) * rounds) % len(PARALLEL)
            barrier.wait()
            for k in order:
                name = PARALLEL[k]
                got = as_comparable(getattr(_rust_core, name)(*VALID[name]))
                if got != expected[name]:
                    failures.append(name)

        threads = [threading.Thread(target=worker, args=(s,)) for s in range(n_threads)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=120)
        assert not any(t.is_alive() for t in threads), "deadlock"
        assert failures == []

    def test_failures_in_threads_stay_in_their_call(self):
        names = ["cdist_dtw", "cdist_manhattan", "cdist_soft_dtw", "cdist_gak"]
        if not names:
            pytest.skip("needs a cdist_* function")
        name = names[0]
        f = getattr(_rust_core, name)
        good, bad = VALID[name], (VALID[name][0], np.ones((2, 9, 1))) + VALID[name][2:]
        expected = as_comparable(f(*good))
        outcomes = []

        def worker(i):
            for _ in range(20):
                if i % 2:
                    try:
                        f(*bad)
                        outcomes.append("no failure")
                    except PanicException as e:
                        outcomes.append("ok" if e.args == ("ndarray: index out of bounds",) else repr(e))
                else:
                    outcomes.append("ok" if as_comparable(f(*good)) == expected else "wrong")

        threads = [threading.Thread(target=worker, args=(i,)) for i in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=120)
        assert outcomes == ["ok"] * 80

    def test_racing_first_calls_in_a_fresh_process(self):
        code = """
            import sys, threading, numpy as np
            sys.path.insert(0, sys.argv[1]) if len(sys.argv) > 1 else None
            import _rust_core
            from calls import VALID, INTERNAL_FAILURES, present
            from test_concurrency import PARALLEL, as_comparable
            barrier = threading.Barrier(8)
            results, errors = [], []
            def first_call(i):
                barrier.wait()
                try:
                    if i % 4 == 3:
                        name, args = next(iter(present(INTERNAL_FAILURES).items()))
                        try:
                            getattr(_rust_core, name)(*args)
                        except BaseException as e:
                            results.append(type(e).__qualname__)
                    else:
                        name = PARALLEL[i % len(PARALLEL)]
                        results.append(as_comparable(getattr(_rust_core, name)(*VALID[name])))
                except BaseException as e:
                    errors.append(repr(e))
            threads = [threading.Thread(target=first_call, args=(i,)) for i in range(8)]
            for t in threads: t.start()
            for t in threads: t.join()
            assert not errors, errors
            panics = [r for r in results if r == 'PanicException']
            assert len(panics) == 2, results
            for i in range(8):
                if i % 4 != 3:
                    name = PARALLEL[i % len(PARALLEL)]
                    assert as_comparable(getattr(_rust_core, name)(*VALID[name])) in results
            print('ok')
        """
        for _ in range(3):
            result = run_python(code, {"PYTHONPATH": os.path.dirname(__file__)})
            assert result.returncode == 0, result.stderr
            assert result.stdout.strip() == "ok"


@pytest.mark.filterwarnings("ignore:This process .* is multi-threaded:DeprecationWarning")
def test_forked_child_computes():
    import multiprocessing

    name = PARALLEL[0]
    f = getattr(_rust_core, name)
    expected = as_comparable(f(*VALID[name]))  # the pool exists in the parent now
    ctx = multiprocessing.get_context("fork")
    with ctx.Pool(2) as pool:
        results = pool.map(_compute_in_child, [name] * 4, chunksize=1)
    assert results == [expected] * 4
    assert as_comparable(f(*VALID[name])) == expected  # and the parent's pool still works


def _compute_in_child(name):
    return as_comparable(getattr(_rust_core, name)(*VALID[name]))


def test_ctrl_c_interrupts_a_long_call():
    # The child takes Ctrl-C as a terminal would deliver it even when the tests run from a
    # shell without job control, whose background commands inherit SIGINT ignored.
    code = """
        import signal, time, numpy as np, _rust_core
        signal.signal(signal.SIGINT, signal.default_int_handler)
        x = np.random.default_rng(0).normal(size=(400, 2000, 1))
        start = time.perf_counter()
        print('started', flush=True)
        try:
            _rust_core.cdist_dtw(x, x, None)
            print('completed')
        except KeyboardInterrupt:
            print('interrupted after', round(time.perf_counter() - start, 2))
        small = np.ones((3, 4, 1))
        assert (_rust_core.cdist_dtw(small, small, None) == 0).all()
        print('pool usable')
    """
    proc = subprocess.Popen([sys.executable, "-c", textwrap.dedent(code)], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    assert proc.stdout.readline().strip() == "started"
    time.sleep(0.5)
    sent = time.perf_counter()
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=60)
    assert proc.returncode == 0, err
    assert out.splitlines()[0].startswith("interrupted after"), out
    assert out.splitlines()[1] == "pool usable"
    assert time.perf_counter() - sent < 10


@pytest.mark.skipif(not sysconfig.get_config_var("Py_GIL_DISABLED"), reason="needs a free-threaded interpreter")
def test_gil_stays_disabled_after_import():
    result = run_python("import sys, _rust_core, numpy; print(sys._is_gil_enabled())")
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "False"
