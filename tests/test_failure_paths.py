"""Failures of the machine part-way through a call: every allocation failing in turn (the
interpreter's and NumPy's through _testcapi.set_nomemory, the module's own through
RC_FAIL_ALLOC=sweep), and worker threads that cannot be started (RC_FAIL_THREAD_START)."""

import ctypes
import gc
import os
import pickle
import struct
import subprocess
import sys
import textwrap
import tracemalloc

import numpy as np
import pytest

import _rust_core
from calls import INTERNAL_FAILURES, VALID, present

try:
    import _testcapi
except ImportError:  # interpreters built without the test modules
    _testcapi = None

PARALLEL = ("cdist_dtw", "cdist_soft_dtw", "cdist_gak", "cdist_manhattan", "fast_non_dominated_sort_py",
            "associate_to_niches_py")
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")


@pytest.fixture(autouse=True, scope="module")
def no_tqdm_monitor():
    """The failing allocations hit every thread of the process. tqdm's monitor thread, started
    by the progress-bar tests earlier in the run, wakes every ten seconds; meeting the failures
    it spun holding the interpreter lock, and the sweep waiting for that lock never returned.
    Stopped here, and kept from starting again while these tests run. A bar stores its monitor
    on its own class, which for tqdm.auto's bars is a subclass of tqdm.std.tqdm: every class of
    the family is looked at."""
    std = sys.modules.get("tqdm.std")
    if std is None:
        yield
        return
    family, pending = [], [std.tqdm]
    while pending:
        cls = pending.pop()
        family.append(cls)
        pending.extend(cls.__subclasses__())
    intervals = {cls: vars(cls)["monitor_interval"] for cls in family if "monitor_interval" in vars(cls)}
    for cls in intervals:
        cls.monitor_interval = 0
    for cls in family:
        monitor = vars(cls).get("monitor")
        if monitor is not None:
            monitor.exit()
            cls.monitor = None
    try:
        yield
    finally:
        for cls, interval in intervals.items():
            cls.monitor_interval = interval


def fail_from(k):
    """The interpreter's allocations fail from the k-th on (set_nomemory counts the ones it lets
    through: start=k - 1)."""
    _testcapi.set_nomemory(k - 1, 0)


def cases_of(name):
    """(kind, argument tuple) pairs for one function: a valid call, one that fails inside the
    kernel, one with an argument missing and one with a first argument that does not convert."""
    args = VALID[name]
    cases = [("valid", args)]
    if name in present(INTERNAL_FAILURES):
        cases.append(("internal", INTERNAL_FAILURES[name]))
    if args:
        cases += [("missing", ()), ("unconvertible", ("text",) + args[1:])]
    return cases


CASES = [(name, kind, args) for name in present(VALID) for kind, args in cases_of(name)]


def outcome(value):
    """A call's result or exception in a form that compares bit for bit (NaN payloads too)."""
    if isinstance(value, BaseException):
        return type(value).__qualname__, tuple(outcome(a) for a in value.args)
    if isinstance(value, np.ndarray):
        return "ndarray", value.dtype.str, value.shape, value.flags.c_contiguous, value.tobytes()
    if isinstance(value, float):
        return "float", struct.pack("<d", value)
    if isinstance(value, (list, tuple)):
        return type(value).__name__, [outcome(v) for v in value]
    return type(value).__name__, value


def outcome_of_call(f, args):
    try:
        return outcome(f(*args))
    except BaseException as e:  # noqa: BLE001 - the failure is the outcome
        return outcome(e)


def sweep(f, args, arm=None, disarm=None, limit=100_000):
    """Calls f(*args) again and again, arm(k) failing allocations from the k-th on, until a call
    is not cut short by a MemoryError. Returns the number of MemoryErrors and the outcome of the
    last call (which the caller compares with that of an undisturbed call)."""
    for k in range(1, limit):
        try:
            if arm is not None:
                arm(k)
            try:
                result = f(*args)
            finally:
                if disarm is not None:
                    disarm()
        except MemoryError:
            continue
        except BaseException as e:  # noqa: BLE001 - any other exception ends the sweep
            return k - 1, outcome(e)
        return k - 1, outcome(result)
    raise AssertionError(f"still failing after {limit} allocations")


def heap_bytes() -> int:
    """Bytes that the C library's malloc has handed out and not taken back."""

    class MallInfo2(ctypes.Structure):
        _fields_ = [(field, ctypes.c_size_t) for field in
                    ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
                     "keepcost")]

    libc = ctypes.CDLL(None)
    libc.mallinfo2.restype = MallInfo2
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd


def rss_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGESIZE")


def check_sweeps(cases, expected, arm=None, disarm=None, rounds=60, next_call=True):
    """For each (name, kind, args): every call of a sweep raises MemoryError or gives the
    undisturbed outcome, input reference counts stay, repeated sweeps leave no memory behind,
    and (with next_call) the call after them is undisturbed. Returns the number of MemoryErrors
    of each case's sweep."""
    failures = {}
    for name, kind, args in cases:
        f = getattr(_rust_core, name)
        want = expected[name, kind]
        arrays = [a for a in args if isinstance(a, np.ndarray)]

        def run():
            count, last = sweep(f, args, arm, disarm)
            assert last == want, f"{name} ({kind}): the sweep ended in {last[:2]}, expected {want[:2]}"
            return count

        def growth(measure):
            """Growth of measure() over each of three windows of sweeps: a leak grows in all,
            while caches the interpreter fills on the way grow in the first ones only (Python
            3.15's still grow by about 2 KiB in the second window of cdist_soft_dtw's sweeps)."""
            windows = []
            for _ in range(3):
                gc.collect()
                before = measure()
                for _ in range(rounds):
                    run()
                gc.collect()
                windows.append(measure() - before)
            return min(windows)

        failures[name, kind] = run()  # lazy process state settles in the first sweep
        gc.collect()
        refs = [sys.getrefcount(a) for a in arrays]
        rss = rss_bytes()
        heap_growth = growth(heap_bytes)
        rss_growth = rss_bytes() - rss
        tracemalloc.start()
        try:
            traced_growth = growth(lambda: tracemalloc.get_traced_memory()[0])
        finally:
            tracemalloc.stop()
        assert [sys.getrefcount(a) for a in arrays] == refs, f"{name} ({kind}): input references changed"
        # A block lost per sweep, at least 16 bytes, adds up to more than this over the rounds;
        # the floor is room for the interpreter's small caches (a few dozen blocks).
        limit = max(rounds * 16, 2048)
        assert traced_growth < limit, f"{name} ({kind}): {traced_growth} bytes more traced after {rounds} sweeps"
        if not UNDER_ASAN:  # ASan has an allocator of its own and keeps freed memory in quarantine
            assert heap_growth < limit, f"{name} ({kind}): the heap grew by {heap_growth} bytes"
            assert rss_growth < 4 << 20, f"{name} ({kind}): resident memory grew by {rss_growth} bytes"
        if next_call:
            assert outcome_of_call(f, args) == want, f"{name} ({kind}): the next call differs"
    return failures


def expected_outcomes(cases):
    return {(name, kind): outcome_of_call(getattr(_rust_core, name), args) for name, kind, args in cases}


@pytest.mark.skipif(_testcapi is None, reason="this interpreter was built without _testcapi")
@pytest.mark.parametrize("name, kind, args", CASES, ids=[f"{n}-{k}" for n, k, _ in CASES])
def test_interpreter_allocations_failing_from_each_one_on(name, kind, args):
    """The interpreter's and NumPy's allocations (result arrays, holders, lists, tuples, floats,
    exceptions, notes) fail from the k-th on; the pool is running for the parallel functions."""
    cases = [(name, kind, args)]
    expected = expected_outcomes(cases)
    failures = check_sweeps(cases, expected, arm=fail_from,
                            disarm=_testcapi.remove_mem_hooks)
    # Floats come from the interpreter's free list and True is a constant; everything else
    # allocates, so the sweep must have met at least one failure.
    if expected[name, kind][0] not in ("float", "bool"):
        assert failures[name, kind] > 0, "no allocation was reached"


OWN_ALLOCATION_SWEEP = """
    import os, pickle, sys, time
    import _rust_core
    from test_failure_paths import CASES, check_sweeps, sweep
    from calls import VALID

    name, expected = pickle.load(sys.stdin.buffer)
    cases = [c for c in CASES if c[0] == name]
    # The call that ends a sweep is an undisturbed one; the call after it starts the next sweep.
    failures = check_sweeps(cases, expected, rounds=30, next_call=False)
    if name in {parallel!r}:
        # The pool and its fork handlers were created under failing allocations: a forked child
        # must still get a pool of its own (one that inherited the parent's would wait forever).
        pid = os.fork()
        if pid == 0:
            last = sweep(getattr(_rust_core, name), VALID[name])[1]
            os._exit(0 if last == expected[name, "valid"] else 1)
        for _ in range(600):
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                break
            time.sleep(0.1)
        else:
            os.kill(pid, 9)
            raise AssertionError("the forked child hangs")
        assert os.waitstatus_to_exitcode(status) == 0, "the forked child failed"
    print(sum(failures.values()))
"""


@pytest.mark.parametrize("name", list(present(VALID)))
def test_module_allocations_failing_one_by_one(name):
    """Each allocation the module makes itself fails in turn, in a fresh process: the first
    sweep also meets the creation of the pool and of the internal-failure type."""
    cases = [c for c in CASES if c[0] == name]
    expected = expected_outcomes(cases)
    env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON_")}
    env.update(RC_FAIL_ALLOC="sweep", RAYON_NUM_THREADS="2", PYTHONPATH=os.path.dirname(__file__))
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(OWN_ALLOCATION_SWEEP.format(parallel=PARALLEL))],
                            input=pickle.dumps((name, expected)), capture_output=True, env=env, timeout=240)
    assert result.returncode == 0, result.stderr.decode()[-3000:]
    if name != "rust_available":
        assert int(result.stdout) > 0, "no allocation of the module was reached"


FIRST_CALLS = """
    import pickle, sys, _testcapi, _rust_core
    from test_failure_paths import fail_from, sweep
    from calls import VALID, INTERNAL_FAILURES
    name, kind = sys.argv[1:]
    f, args = getattr(_rust_core, name), (INTERNAL_FAILURES if kind == "internal" else VALID)[name]
    count, last = sweep(f, args, fail_from, _testcapi.remove_mem_hooks)
    types = set()
    for _ in range(2):
        try:
            f(*args)
        except BaseException as e:
            types.add(type(e))
    # The internal-failure type, created once under failing allocations, stays the same one.
    assert len(types) <= 1, types
    pickle.dump((count, last), sys.stdout.buffer)
"""


@pytest.mark.skipif(_testcapi is None, reason="this interpreter was built without _testcapi")
@pytest.mark.parametrize("name, kind", [("cdist_dtw", "valid"), ("squared_euclidean_cost_matrix", "valid"),
                                        ("dtw", "internal"), ("cdist_manhattan", "internal")])
def test_first_call_of_a_process_under_failing_allocations(name, kind):
    """The lazily created process state (NumPy's C API, the pool, the internal-failure type) is
    created by a first call whose allocations fail: a MemoryError until the state exists, then
    the undisturbed outcome."""
    expected = outcome_of_call(getattr(_rust_core, name), (INTERNAL_FAILURES if kind == "internal" else VALID)[name])
    env = {**os.environ, "PYTHONPATH": os.path.dirname(__file__)}
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(FIRST_CALLS), name, kind], capture_output=True,
                            env=env, timeout=240)
    assert result.returncode == 0, result.stderr.decode()[-3000:]
    count, last = pickle.loads(result.stdout)
    assert count > 0
    assert last == expected


THREAD_START = """
    import os, pickle, resource, sys
    import _rust_core
    from calls import VALID
    from test_failure_paths import PARALLEL, outcome_of_call

    mode, expected = pickle.load(sys.stdin.buffer)
    tasks = lambda: len(os.listdir("/proc/self/task"))
    if mode == "process limit":
        # No further thread for this user; root is not bound by the limit, so become nobody.
        if os.geteuid() == 0:
            os.setgid(65534)
            os.setuid(65534)
        uid = os.getuid()
        running = 0
        for pid in os.listdir("/proc"):
            try:
                with open(f"/proc/{pid}/status") as status:
                    if any(line.split()[1] == str(uid) for line in status if line.startswith("Uid:")):
                        running += len(os.listdir(f"/proc/{pid}/task"))
            except (OSError, ValueError):
                pass
        resource.setrlimit(resource.RLIMIT_NPROC, (running, running + 16))
    name = PARALLEL[0]
    f, args = getattr(_rust_core, name), VALID[name]
    before = tasks()
    outcomes = [outcome_of_call(f, args)]
    left_over = tasks() - before
    outcomes.append(outcome_of_call(f, args))
    if mode == "process limit":
        resource.setrlimit(resource.RLIMIT_NPROC, (running + 16, running + 16))
        outcomes.append(outcome_of_call(f, args))
    workers = tasks() - before
    correct = [outcome_of_call(getattr(_rust_core, n), VALID[n]) == expected[n] for n in PARALLEL]
    pickle.dump((outcomes, left_over, workers, correct), sys.stdout.buffer)
"""


@pytest.mark.parametrize("mode", ["first start fails", "second start fails", "third start fails", "process limit"])
def test_pool_threads_that_cannot_start(mode):
    """The first call that needs the pool fails with the internal failure, leaving no thread
    behind; the pool is not kept, so a later call tries again: it fails the same way while
    threads cannot be started (a process limit) and creates the pool once they can."""
    expected = {n: outcome_of_call(getattr(_rust_core, n), VALID[n]) for n in PARALLEL}
    env = {k: v for k, v in os.environ.items() if not k.startswith(("RAYON_", "RC_FAIL"))}
    env.update(RAYON_NUM_THREADS="3", PYTHONPATH=os.path.dirname(__file__), OPENBLAS_NUM_THREADS="1")
    if mode != "process limit":
        env["RC_FAIL_THREAD_START"] = str(["first", "second", "third"].index(mode.split()[0]) + 1)
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(THREAD_START)], input=pickle.dumps((mode, expected)),
                            capture_output=True, env=env, timeout=120)
    assert result.returncode == 0, result.stderr.decode()[-3000:]
    outcomes, left_over, workers, correct = pickle.loads(result.stdout)
    failure = outcomes[0]
    assert failure[0] == "PanicException", failure
    assert failure[1][0][1].startswith("The global thread pool has not been initialized."), failure
    assert left_over == 0, "threads of the failed pool are still running"
    if mode == "process limit":
        assert outcomes[1] == failure  # the same failure while the limit stands
    assert outcomes[-1] == expected[PARALLEL[0]]  # then a retry creates the pool
    assert workers == 3
    assert all(correct)
