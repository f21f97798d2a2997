"""The one timing loop of the benchmark scripts."""

import statistics
import time
from typing import NamedTuple


class Timing(NamedTuple):
    median: float  # wall-clock seconds per call
    best: float  # the fastest call: the machine's own speed when other processes compete
    cpu: float  # median CPU seconds of the whole process (all workers) per call: cost per core


def measure(call, repeats: int, warm_up: bool = True) -> Timing:
    if warm_up:
        call()  # creates the worker pool, faults in the pages
    wall, cpu = [], []
    for _ in range(repeats):
        start, start_cpu = time.perf_counter(), time.process_time()
        call()
        wall.append(time.perf_counter() - start)
        cpu.append(time.process_time() - start_cpu)
    return Timing(statistics.median(wall), min(wall), statistics.median(cpu))
