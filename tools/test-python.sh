#!/usr/bin/env bash
# The test suite under another CPython from Debian's packages (tools/debian-python.sh), in a venv
# of its own (.venv-3.14, .venv-3.13t, ...) with the module built there by this machine's GCC:
#   tools/test-python.sh [--free-threaded] VERSION [pytest arguments]
# The test tools come from PyPI's wheels. The dask extra's packages join where PyPI has wheels
# of them for the interpreter; where it has none (zarr's numcodecs on 3.15, say) the tests that
# need them skip and say so.
set -euo pipefail
cd "$(dirname "$0")/.."

option=() suffix=""
if [ "${1:-}" = "--free-threaded" ]; then option=(--free-threaded) suffix=t; shift; fi
version=$1
shift
venv=.venv-$version$suffix
pip_opts=(--quiet --disable-pip-version-check)

if [ ! -x "$venv/bin/python" ]; then
    python=$(tools/debian-python.sh "${option[@]}" "$version")
    "$python" -m venv "$venv"
fi
"$venv/bin/python" -m pip install "${pip_opts[@]}" --only-binary=:all: cmake ninja \
    $("$venv/bin/python" tools/build_requires.py) pytest pytest-timeout hypothesis mypy
for extra in "dask[array] distributed zarr" "dask[array] distributed"; do
    # shellcheck disable=SC2086 # one word per requirement
    if "$venv/bin/python" -m pip install "${pip_opts[@]}" --only-binary=:all: $extra 2>/dev/null; then break; fi
done
"$venv/bin/python" -m pip install "${pip_opts[@]}" --no-build-isolation --no-deps .
"$venv/bin/python" -m pytest -p no:cacheprovider "$@"
