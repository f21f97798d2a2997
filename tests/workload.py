"""A fixed workload through all sixteen functions and one hash of each function's results, the
same on every machine that computes the same bits. The inputs come from an integer generator and
exact divisions by powers of two, so no C library maths (and no NumPy random stream) shapes them;
soft-DTW and GAK run on series long enough, and on enough pairs, that every lane of every target
calls exp and log.

Run as a script it prints the hashes as JSON for the target the process chose (RC_SIMD picks one
as usual); with --reference it runs itself once per target the machine runs and prints
{"machine": ..., "fused_libm": ..., "targets": {name: hashes}}, the reference that the aarch64
tests compare with (make test-aarch64 writes it on this machine first)."""

import argparse
import hashlib
import json
import os
import platform
import struct
import subprocess
import sys
import tempfile

import numpy as np

import _rust_core

MASK64 = (1 << 64) - 1


def integers(seed: int):
    """splitmix64: a stream of 64-bit integers from plain integer arithmetic."""
    state = seed & MASK64
    while True:
        state = (state + 0x9E3779B97F4A7C15) & MASK64
        z = state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK64
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK64
        yield z ^ (z >> 31)


def values(seed: int, shape: tuple[int, ...], scale_bits: int = 20, spread_bits: int = 22) -> np.ndarray:
    """float64 values k / 2**scale_bits with k uniform in [-2**spread_bits, 2**spread_bits): exact,
    in [-4, 4) by default."""
    stream = integers(seed)
    count = int(np.prod(shape))
    ks = [(next(stream) >> (64 - spread_bits - 1)) - (1 << spread_bits) for _ in range(count)]
    return np.array([k / (1 << scale_bits) for k in ks], dtype=np.float64).reshape(shape)


def small_integers(seed: int, shape: tuple[int, ...], levels: int) -> np.ndarray:
    """float64 values in {0, 1, ..., levels - 1}: objective vectors with many ties."""
    stream = integers(seed)
    count = int(np.prod(shape))
    return np.array([float(next(stream) % levels) for _ in range(count)], dtype=np.float64).reshape(shape)


def workload() -> dict[str, list]:
    """Each function's results on the fixed inputs, in a fixed order."""
    rc = _rust_core
    x, y = values(1, (71, 3)), values(2, (66, 3))
    short_x, short_y = values(3, (23, 3)), values(4, (29, 3))
    set_x, set_y = values(5, (6, 41, 3)), values(6, (7, 37, 3))
    objectives = values(7, (300, 4), scale_bits=22)
    tied = small_integers(8, (240, 3), levels=6)
    directions = rc.das_dennis_py(4, 6)
    results: dict[str, list] = {name: [] for name in rc.__all__}

    def call(name, *args):
        results[name].append(getattr(rc, name)(*args))

    call("rust_available")
    call("squared_euclidean_cost_matrix", x, y)
    call("squared_euclidean_cost_matrix", short_y, short_x)
    for radius in (None, 0, 5):
        call("dtw", x, y, radius)
        call("dtw_with_path_py", short_x, short_y, radius)
        call("cdist_dtw", set_x, set_y, radius)
    # gamma from small (most terms underflow) to large (every term counts); sigma likewise.
    for gamma in (0.05, 1.0, 8.0):
        call("soft_dtw", x, y, gamma)
        call("soft_dtw", short_y, short_x, gamma)
        call("cdist_soft_dtw", set_x, set_y, gamma)
    for sigma in (2.0, 5.0, 16.0):
        call("gak", x, y, sigma)
        call("unnormalized_gak_py", short_x, short_y, sigma)
        call("cdist_gak", set_x, set_y, sigma)
    call("manhattan", short_x, x)
    call("cdist_manhattan", set_y[:, :30], set_x)
    for n_dim, partitions in ((3, 12), (4, 6), (6, 3)):
        call("das_dennis_py", n_dim, partitions)
    for f in (objectives, tied):
        call("fast_non_dominated_sort_py", f)
    ideal = objectives.min(axis=0)
    first_front = rc.fast_non_dominated_sort_py(objectives)[0]
    call("normalization_update_py", ideal, objectives, first_front, 4)
    ideal, nadir = rc.normalization_update_py(ideal, objectives, first_front, 4)
    call("associate_to_niches_py", objectives, directions, ideal, nadir)
    return results


def encode(value, out: list[bytes]) -> None:
    """A byte encoding that tells apart every value the functions return: arrays by dtype, shape
    and little-endian contents, floats by their bits."""
    if isinstance(value, np.ndarray):
        out.append(f"array {value.dtype.str} {value.shape}:".encode())
        out.append(np.ascontiguousarray(value, dtype=value.dtype.newbyteorder("<")).tobytes())
    elif isinstance(value, bool) or isinstance(value, int):
        out.append(f"{type(value).__name__} {value};".encode())
    elif isinstance(value, float):
        out.append(b"float " + struct.pack("<d", value))
    elif isinstance(value, (list, tuple)):
        out.append(f"{type(value).__name__} {len(value)}[".encode())
        for item in value:
            encode(item, out)
        out.append(b"]")
    else:
        raise TypeError(f"no encoding for {type(value).__name__}")


def hashes() -> dict[str, str]:
    digests = {}
    for name, outputs in workload().items():
        parts: list[bytes] = []
        encode(outputs, parts)
        digests[name] = hashlib.sha256(b"".join(parts)).hexdigest()
    return digests


# The functions whose results pass through exp or log, the only ones whose bits depend on which
# variant of the C library's exp and log a machine runs.
EXP_LOG_FUNCTIONS = frozenset({"soft_dtw", "cdist_soft_dtw", "gak", "unnormalized_gak_py", "cdist_gak"})


def x86_64_library_fuses() -> bool:
    """Whether the GNU C library of this x86-64 process runs its exp and log variant with fused
    multiply-add: it does wherever the processor has FMA and AVX2, unless a tunable masks them."""
    with open("/proc/cpuinfo") as cpuinfo:
        flags = next((line.split(":", 1)[1].split() for line in cpuinfo if line.startswith("flags")), [])
    masked = os.environ.get("GLIBC_TUNABLES", "")
    return {"fma", "avx2"} <= set(flags) and "-FMA" not in masked and "-AVX2" not in masked


def hashes_in_subprocess(**env: str) -> dict[str, str]:
    """The hashes computed by a fresh interpreter (the module reads RC_SIMD and RC_LIBM once per
    process), with `env` added."""
    result = subprocess.run([sys.executable, os.path.abspath(__file__)], env={**os.environ, **env},
                            capture_output=True, text=True, check=False, timeout=1800)
    if result.returncode != 0:
        raise RuntimeError(f"the workload failed with {env}:\n{result.stderr[-3000:]}")
    return json.loads(result.stdout)


def running_targets() -> list[str]:
    """The SIMD targets this build and processor run, as the module reports them (RC_REPORT)."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "report")
        subprocess.run([sys.executable, "-c", "import _rust_core"], env={**os.environ, "RC_REPORT": path}, check=True)
        with open(path) as report:
            fields = dict(field.split("=", 1) for field in report.read().split())
    return fields["runs"].split(",")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--reference", action="store_true",
                        help="the hashes of every target this machine runs, each in a process of its own")
    if not parser.parse_args().reference:
        report = hashes()
    else:
        if platform.machine() != "x86_64":
            parser.error("--reference writes the x86-64 reference")
        report = {"machine": platform.machine(), "fused_libm": x86_64_library_fuses(),
                  "targets": {name: hashes_in_subprocess(RC_SIMD=name) for name in running_targets()}}
    json.dump(report, sys.stdout, indent=1, sort_keys=True)
    print()


if __name__ == "__main__":
    main()
