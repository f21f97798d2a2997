"""A cdist_to_zarr run that lets a given number of blocks through and then stalls every other
block before it is computed, so that a test can interrupt it at a known point instead of
guessing with sleeps.

Argument: JSON with "inputs" (an .npz file holding x and y), "path", "measure", "parameter",
"chunk", "y_chunk", "allowed" (blocks let through), "progress" and "stalled" (a file created
once a block has stalled, so the test knows the run is stuck). On Ctrl-C (SIGINT) the process
goes on as an interrupted notebook kernel does: the stalled blocks are let go and write their
values after the run has stopped recording, then it exits with status 130.
"""

import json
import signal
import sys
import threading

import dask
import numpy as np

from tsmoo_kernels import blocks

# A shell without job control starts background commands with SIGINT ignored, and Python
# then installs no handler of its own; the run must see Ctrl-C as an interactive one does.
signal.signal(signal.SIGINT, signal.default_int_handler)

settings = json.loads(sys.argv[1])
inputs = np.load(settings["inputs"])
release = threading.Event()
state = threading.Condition()
started = stalled = written = 0
compute_and_store = blocks._compute_and_store


def stalling_compute_and_store(*args, **kwargs):
    global started, stalled, written
    with state:
        started += 1
        stall = started > settings["allowed"]
        stalled += stall
    if stall:
        open(settings["stalled"], "a").close()
        release.wait()
    compute_and_store(*args, **kwargs)
    with state:
        written += stall
        state.notify_all()


blocks._compute_and_store = stalling_compute_and_store
try:
    with dask.config.set(scheduler="threads", num_workers=2):
        blocks.cdist_to_zarr(settings["measure"], inputs["x"], inputs["y"], settings["parameter"], settings["path"],
                             chunk=settings["chunk"], y_chunk=settings["y_chunk"], progress=settings["progress"])
except KeyboardInterrupt:
    release.set()
    with state:
        state.wait_for(lambda: written == stalled)
    sys.exit(130)
sys.exit("the run was expected to stall, but it finished")
