"""Repeated calls, successful or failing in every way, leave no references or memory behind."""

import gc
import os
import sys
import tracemalloc

import numpy as np
import pytest

import _rust_core
from calls import INTERNAL_FAILURES, MEMORY_FAILURES, VALID, present

ARGUMENT_ERRORS = [
    ("too many positional", lambda f, args: f(*args, None)),
    ("unknown keyword", lambda f, args: f(*args, bogus=1)),
    ("missing", lambda f, args: f()),
    ("bad first argument", lambda f, args: f("text", *args[1:])),
    ("bad last argument", lambda f, args: f(*args[:-1], "text")),
]

CASES = (
    [(name, "valid", lambda f, args: f(*args), args) for name, args in present(VALID).items()]
    + [(name, "internal", lambda f, args: f(*args), args) for name, args in present(INTERNAL_FAILURES).items()]
    + [(name, "memory", lambda f, args: f(*args), args) for name, args in present(MEMORY_FAILURES).items()]
    + [
        (name, label, call, args)
        for name, args in present(VALID).items()
        if args
        for label, call in ARGUMENT_ERRORS
    ]
)


def rss_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


@pytest.mark.parametrize("name, kind, call, args", CASES, ids=[f"{c[0]}-{c[1]}" for c in CASES])
def test_repeated_calls_leave_nothing_behind(name, kind, call, args):
    f = getattr(_rust_core, name)

    def once():
        try:
            call(f, args)
        except BaseException as e:  # noqa: BLE001 - every failure class is part of the test
            if kind == "valid" or isinstance(e, (KeyboardInterrupt, SystemExit)):
                raise

    for _ in range(20):  # lazy process state (NumPy import, pool, exception type) comes first
        once()
    gc.collect()
    array_refs = [sys.getrefcount(a) for a in args if isinstance(a, np.ndarray)]
    total_refs = sys.gettotalrefcount() if hasattr(sys, "gettotalrefcount") else None
    rss = rss_bytes()
    tracemalloc.start()
    try:
        for _ in range(300):
            once()
        gc.collect()
        traced, _ = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert [sys.getrefcount(a) for a in args if isinstance(a, np.ndarray)] == array_refs
    if total_refs is not None:
        assert sys.gettotalrefcount() - total_refs < 50
    # What survives the calls is tracemalloc's own bookkeeping and interned trivia only.
    assert traced < 64 * 1024, traced
    # AddressSanitizer keeps freed memory in quarantine, so resident memory grows there anyway.
    if "libasan" not in os.environ.get("LD_PRELOAD", ""):
        assert rss_bytes() - rss < 4 * 1024 * 1024
