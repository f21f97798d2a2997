#!/usr/bin/env bash
# make test-aarch64: every kernel's bit-exact tests and the workload hashes on aarch64, run by
# Debian's arm64 Python 3.13 and NumPy under user-mode emulation (tools/aarch64-python.sh).
#   tools/test-aarch64.sh               cross-builds the module with Debian's g++-aarch64-linux-gnu
#   tools/test-aarch64.sh --wheel W     installs the aarch64 wheel W with the emulated pip instead
# Before the emulated run, NATIVE_PYTHON (default .venv/bin/python, with the module installed)
# computes the workload's hashes on x86-64 for every target; the emulated tests compare theirs
# with that file (RC_X86_64_HASHES). PYTEST_ARGS replaces the list of test files and selection.
# Emulation is slow (minutes) and says nothing about speed on real hardware.
set -euo pipefail
cd "$(dirname "$0")/.."

# Every kernel's bit-exact tests. Left out: the tests of the Python-facing frame, failures,
# threads, leaks and typing (platform-independent code, run natively), the exp lanes and the
# instruction-set check (x86-64 only), dask blocks and UCR data (need packages or files the
# emulated root does not have).
KERNEL_TESTS=(tests/test_cost.py tests/test_dtw.py tests/test_soft_dtw.py tests/test_gak.py
    tests/test_manhattan.py tests/test_das_dennis.py tests/test_nds.py tests/test_niching.py
    tests/test_normalization.py tests/test_workload_hashes.py)

wheel=""
if [ "${1:-}" = "--wheel" ]; then wheel=$(readlink -f "$2"); fi
native=${NATIVE_PYTHON:-.venv/bin/python}
out=build/aarch64
python=$(tools/aarch64-python.sh)
mkdir -p "$out"

if [ -z "$wheel" ]; then
    echo "== cross build (g++-aarch64-linux-gnu)"
    command -v aarch64-linux-gnu-g++ >/dev/null ||
        { apt-get update -qq && apt-get install -y -qq g++-aarch64-linux-gnu >/dev/null; }
    read -r python_include numpy_include <<<"$(tools/aarch64-python.sh --headers)"
    bin=$(dirname "$native")
    "$bin/cmake" -S . -B "$out/build" -G Ninja -DCMAKE_MAKE_PROGRAM="$(readlink -f "$bin/ninja")" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=aarch64 \
        -DCMAKE_CXX_COMPILER=aarch64-linux-gnu-g++ -DPython_EXECUTABLE="$(readlink -f "$native")" \
        -DPython_INCLUDE_DIR="$python_include" -DNUMPY_INCLUDE_DIR="$numpy_include" \
        -DRUST_CORE_SOABI=cpython-313-aarch64-linux-gnu >/dev/null
    "$bin/cmake" --build "$out/build"
    site=$PWD/$out/build
else
    echo "== $(basename "$wheel") installed by the emulated pip"
    site=$PWD/$out/wheel-site
    rm -rf "$site"
    "$python" -m pip install --quiet --disable-pip-version-check --root-user-action=ignore --no-deps --no-index \
        --target "$site" "$wheel"
fi

echo "== x86-64 reference hashes ($native)"
"$native" tests/workload.py --reference >"$out/x86_64-hashes.json"

echo "== tests under qemu-aarch64"
# The module is imported from $site, never from the source tree. The emulator makes every test
# several times slower than natively: the per-test limit grows accordingly.
# Left out: the DTW matrix tests rerun by a nested pytest on each forced target, which under the
# emulator can outlast their 300 s limit; the targets' bits are compared by the other path tests.
if [ -n "${PYTEST_ARGS:-}" ]; then read -r -a tests <<<"$PYTEST_ARGS"
else tests=("${KERNEL_TESTS[@]}" -k "not test_matrix_tests_on_each_simd_path"); fi
PYTHONPATH="$site" RC_X86_64_HASHES="$PWD/$out/x86_64-hashes.json" \
    "$python" -m pytest -p no:cacheprovider -o timeout=3600 "${tests[@]}"
