#!/usr/bin/env bash
# Release check of what `make wheels` wrote to dist/ (WHEEL_DIR), the way a user meets it:
#   1. every expected wheel is there (x86-64: WHEEL_TAGS, aarch64: AARCH64_WHEEL_TAGS, the defaults
#      of tools/build-wheels.sh); the sdist holds what a build needs and no working-tree junk;
#      every wheel holds the module, its stubs, the tsmoo_kernels package and the right metadata;
#   2. each x86-64 wheel goes into a fresh venv of its own interpreter (tools/python-for-tag.sh)
#      with nothing but pip and NumPy, binaries only (the oldest NumPy the metadata allows where
#      it has a wheel for that interpreter), and every function is called; under a free-threaded
#      interpreter the GIL must stay off; stubtest checks the cp313 wheel's stubs;
#   3. the whole test suite runs against the cp313 x86-64 wheel, in a fresh venv with the test
#      tools and the newest NumPy; the kernel, frame, failure-path, concurrency and workload tests
#      against the other interpreters' wheels (only the concurrency and frame tests under the
#      free-threaded ones), in their venvs of step 2;
#   4. the kernel tests run against each aarch64 wheel under emulation (tools/test-aarch64.sh
#      --wheel), compared with the hashes of the cp313 x86-64 wheel;
#   5. the sdist goes into another fresh venv (a normal pip build from source, this machine's
#      compiler) and every function is called again.
# Everything lives under build/package-check; logs of each step are in its logs/ folder.
set -euo pipefail
cd "$(dirname "$0")/.."

root=build/package-check
logs=$root/logs
dist=${WHEEL_DIR:-dist}
x86_64_tags=${WHEEL_TAGS-cp313 cp314 cp315 cp313t}
aarch64_tags=${AARCH64_WHEEL_TAGS-cp313}
python="$(tools/find-python.sh)"
pip_opts=(--quiet --disable-pip-version-check)

step_start=$SECONDS
step() {
    echo "== $1"
    step_start=$SECONDS
}
done_step() { echo "   ok ($((SECONDS - step_start)) s)"; }
. tools/logged.sh
# wheel_for TAG ARCH: the one wheel in dist/ for that interpreter tag and architecture.
wheel_for() {
    local abi=$1 found
    found=$(ls "$dist"/*-"${abi%t}"-"$abi"-manylinux_*_"$2".whl 2>/dev/null || true)
    if [ "$(echo "$found" | grep -c .)" != 1 ]; then
        echo "dist/ holds no single $1 $2 wheel (run make wheels first): ${found:-none}" >&2
        exit 1
    fi
    echo "$found"
}

rm -rf "$root"/venv-* "$logs"
mkdir -p "$logs"

step "the wheels and the sdist in $dist"
sdist=$(ls "$dist"/*.tar.gz)
wheels=()
for tag in $x86_64_tags; do wheels+=("$(wheel_for "$tag" x86_64)"); done
for tag in $aarch64_tags; do wheels+=("$(wheel_for "$tag" aarch64)"); done
printf '   %s\n' "$(basename "$sdist")" "${wheels[@]##*/}"
done_step

step "contents and metadata"
"$python" - "$sdist" "${wheels[@]}" <<'PY'
import email.parser
import re
import sys
import tarfile
import zipfile

sdist_path, *wheel_paths = sys.argv[1:]
problems = []

with tarfile.open(sdist_path) as sdist:
    names = [name.split("/", 1)[1] for name in sdist.getnames() if "/" in name]
for needed in ("pyproject.toml", "CMakeLists.txt", "cmake/kernel_table.cpp.in", "README.md", "LICENSE", "PKG-INFO",
               "src/exports.map", "src/simd/targets.def",
               "src/binding/module.cpp", "src/binding/function_table.cpp", "python/_rust_core-stubs/__init__.pyi",
               "python/tsmoo_kernels/__init__.py", "python/tsmoo_kernels/blocks.py",
               "python/tsmoo_kernels/_block_runs.py", "python/tsmoo_kernels/_resume.py"):
    if needed not in names:
        problems.append(f"sdist lacks {needed}")
junk = re.compile(r"(^|/)(\.venv[^/]*|build|dist|\.git|\.hypothesis|\.pytest_cache|\.mypy_cache|__pycache__)(/|$)"
                  r"|\.(so|o|pyc)$")
problems += [f"sdist holds {name}" for name in names if junk.search(name)]

tested_versions = ("3.13", "3.14", "3.15")
for wheel_path in wheel_paths:
    with zipfile.ZipFile(wheel_path) as wheel:
        files = wheel.namelist()
        metadata_name = next(name for name in files if name.endswith(".dist-info/METADATA"))
        metadata = email.parser.Parser().parsestr(wheel.read(metadata_name).decode())
    label = wheel_path.rsplit("/", 1)[-1]
    if not any(re.fullmatch(r"_rust_core\.cpython-3\d+t?-(x86_64|aarch64)-linux-gnu\.so", name) for name in files):
        problems.append(f"{label} lacks the _rust_core extension")
    for needed in ("_rust_core-stubs/__init__.pyi", "tsmoo_kernels/__init__.py", "tsmoo_kernels/blocks.py",
                   "tsmoo_kernels/_block_runs.py", "tsmoo_kernels/_resume.py", "tsmoo_kernels/py.typed"):
        if needed not in files:
            problems.append(f"{label} lacks {needed}")
    if not any(name.endswith(".dist-info/licenses/LICENSE") for name in files):
        problems.append(f"{label} lacks the license file")

    expected = {
        "Name": "tsmoo-kernels",
        "License-Expression": "MIT",
        "License-File": "LICENSE",
        "Requires-Python": ">=3.13",
    }
    for field, value in expected.items():
        if metadata.get(field) != value:
            problems.append(f"{label}: metadata {field} is {metadata.get(field)!r}, expected {value!r}")
    classifiers = metadata.get_all("Classifier") or []
    for needed in ("Typing :: Typed", "Operating System :: POSIX :: Linux",
                   *(f"Programming Language :: Python :: {version}" for version in tested_versions)):
        if needed not in classifiers:
            problems.append(f"{label}: classifier {needed!r} missing")
    requires = metadata.get_all("Requires-Dist") or []
    if "numpy>=2.1" not in requires:
        problems.append(f"{label}: no runtime requirement numpy>=2.1 in {requires}")
    if sorted(metadata.get_all("Provides-Extra") or []) != ["dask", "demo", "test"]:
        problems.append(f"{label}: extras are {metadata.get_all('Provides-Extra')}")

for problem in problems:
    print("   " + problem)
if problems:
    sys.exit(1)
print(f"   sdist: {len(names)} files; {len(wheel_paths)} wheels, each holding {', '.join(sorted(files))}")
PY
done_step

# Imports the module from the venv's site-packages (run from a scratch folder, so the source
# tree cannot shadow it) and calls each of the sixteen functions once.
smoke() {
    local venv=$1
    (cd "$root" && "$venv/bin/python" - <<'PY'
import importlib.metadata
import math
import sys
import sysconfig

import numpy as np

import _rust_core as rc
import tsmoo_kernels.blocks

assert "site-packages" in rc.__file__, rc.__file__
called = set()


def call(name, *args):
    called.add(name)
    return getattr(rc, name)(*args)


rng = np.random.default_rng(0)
a, b = rng.normal(size=(6, 2)), rng.normal(size=(7, 2))
sets = rng.normal(size=(3, 6, 2))
assert call("rust_available") is True
assert call("squared_euclidean_cost_matrix", a, b).shape == (6, 7)
assert call("dtw", a, a, None) == 0.0
distance, path = call("dtw_with_path_py", a, b, 2)
assert path[0] == (0, 0) and path[-1] == (5, 6) and math.isfinite(distance)
assert call("cdist_dtw", sets, sets, None).diagonal().tolist() == [0.0, 0.0, 0.0]
assert math.isfinite(call("soft_dtw", a, b, 1.0))
assert call("cdist_soft_dtw", sets, sets, 0.5).shape == (3, 3)
assert abs(call("gak", a, a, 1.0) - 1.0) < 1e-12
assert call("unnormalized_gak_py", a, b, 1.0) > 0.0
assert call("cdist_gak", sets, sets, 1.0).shape == (3, 3)
assert call("manhattan", a, a) == 0.0
assert call("cdist_manhattan", sets, sets).shape == (3, 3)
directions = call("das_dennis_py", 3, 4)
assert directions.shape == (15, 3)
f = rng.random((10, 3))
fronts = call("fast_non_dominated_sort_py", f)
assert sorted(np.concatenate(fronts).tolist()) == list(range(10))
ideal, nadir = call("normalization_update_py", f.min(axis=0), f, fronts[0], 3)
niches, distances = call("associate_to_niches_py", f, directions, ideal, nadir)
assert niches.dtype == np.int64 and distances.shape == (10,)
assert called == set(rc.__all__) and len(called) == 16, sorted(set(rc.__all__) - called)

assert tsmoo_kernels.blocks.MEASURES.keys() == {"dtw", "soft_dtw", "gak", "manhattan"}
shipped = {str(p) for p in importlib.metadata.files("tsmoo-kernels")}
assert "_rust_core-stubs/__init__.pyi" in shipped, sorted(shipped)
# A free-threaded interpreter re-enables the GIL on importing a module that does not declare
# that it can run without it; ours declares so, and NumPy too.
free_threaded = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
if free_threaded:
    assert not sys._is_gil_enabled(), "importing the module re-enabled the GIL"
print(f"   numpy {np.__version__}: {len(called)} functions called"
      + (", the GIL still disabled" if free_threaded else ""))
PY
    )
}

# The oldest NumPy the metadata allows.
numpy_floor=$("$python" -c 'import sys, zipfile
wheel = zipfile.ZipFile(sys.argv[1])
metadata = wheel.read(next(n for n in wheel.namelist() if n.endswith(".dist-info/METADATA"))).decode()
print(next(line.split(">=")[1] for line in metadata.splitlines() if line.startswith("Requires-Dist: numpy>=")))' "${wheels[0]}")

for tag in $x86_64_tags; do
    step "$tag: fresh venv from the wheel, binaries only"
    wheel=$(wheel_for "$tag" x86_64)
    venv=$PWD/$root/venv-$tag
    "$(tools/python-for-tag.sh "$tag")" -m venv "$venv"
    if "$venv/bin/python" -c 'import setuptools' 2>/dev/null || [ -e "$venv/bin/cmake" ]; then
        echo "the fresh venv already has build tools" >&2
        exit 1
    fi
    # NumPy's oldest allowed release may predate the interpreter: then its oldest wheel for it.
    if ! "$venv/bin/python" -m pip install "${pip_opts[@]}" --only-binary=:all: "numpy==$numpy_floor.*" \
        >"$logs/numpy-$tag.log" 2>&1; then
        logged "numpy-$tag" "$venv/bin/python" -m pip install "${pip_opts[@]}" --only-binary=:all: "numpy>=$numpy_floor"
    fi
    logged "venv-$tag" "$venv/bin/python" -m pip install "${pip_opts[@]}" --only-binary=:all: "$wheel"
    smoke "$venv"
    if [ "$tag" = cp313 ]; then
        logged "venv-$tag-mypy" "$venv/bin/python" -m pip install "${pip_opts[@]}" --only-binary=:all: mypy
        (cd "$root" && "$venv/bin/python" -m mypy.stubtest --mypy-config-file= _rust_core | sed 's/^/   stubtest: /')
    fi
    done_step
done

step "the whole test suite against the cp313 x86-64 wheel"
venv=$PWD/$root/venv-suite
"$python" -m venv "$venv"
wheel=$(wheel_for cp313 x86_64)
# The tests build their native helper programs with cmake and ninja from the venv.
logged venv-suite "$venv/bin/python" -m pip install "${pip_opts[@]}" --only-binary=:all: cmake ninja "$wheel[test]"
# From the source tree, which holds no built module: the tests import the wheel's.
"$venv/bin/python" -m pytest -p no:cacheprovider -q
done_step
suite_python=$venv/bin/python

# The other interpreters' wheels: every kernel's bit-exact tests with the frame, failure-path,
# concurrency and workload tests (the free-threaded ones: the concurrency and frame tests, as
# make free-threaded runs them on this machine's build), in the venv of the calls above plus
# the test tools. The rest of the suite tests code that is the same under every interpreter.
kernel_tests=(tests/test_cost.py tests/test_dtw.py tests/test_soft_dtw.py tests/test_gak.py tests/test_manhattan.py
    tests/test_das_dennis.py tests/test_nds.py tests/test_niching.py tests/test_normalization.py
    tests/test_frame.py tests/test_failure_paths.py tests/test_concurrency.py tests/test_workload_hashes.py)
for tag in $x86_64_tags; do
    [ "$tag" != cp313 ] || continue
    case "$tag" in
        *t) tests=(tests/test_concurrency.py tests/test_frame.py) ;;
        *) tests=("${kernel_tests[@]}") ;;
    esac
    step "$tag x86-64 wheel: ${#tests[@]} test files"
    venv=$PWD/$root/venv-$tag
    logged "tests-$tag" "$venv/bin/python" -m pip install "${pip_opts[@]}" --only-binary=:all: pytest pytest-timeout hypothesis
    "$venv/bin/python" -m pytest -p no:cacheprovider -q "${tests[@]}"
    done_step
done

for tag in $aarch64_tags; do
    step "$tag aarch64 wheel: the kernel tests under emulation"
    NATIVE_PYTHON=$suite_python tools/test-aarch64.sh --wheel "$(wheel_for "$tag" aarch64)"
    done_step
done

step "fresh venv from the sdist (pip builds it)"
"$python" -m venv "$root/venv-sdist"
venv=$PWD/$root/venv-sdist
logged venv-sdist "$venv/bin/python" -m pip install "${pip_opts[@]}" "$sdist"
smoke "$venv"
done_step

echo "package check passed in $SECONDS s"
