#!/usr/bin/env bash
# make wheels: the source distribution, and from it one manylinux_2_28 wheel per interpreter tag
# and architecture, into dist/ (WHEEL_DIR overrides):
#   x86-64:  WHEEL_TAGS          (default cp313 cp314 cp315 cp313t)
#   aarch64: AARCH64_WHEEL_TAGS  (default cp313)
# Every wheel is compiled by zig's clang (PyPI's ziglang) for <arch>-linux-gnu.2.28, which links
# against the symbols of glibc 2.28 whatever this machine's C library is. x86-64 wheels are built
# by their own interpreter (tools/python-for-tag.sh); aarch64 ones are cross-built by this
# machine's Python 3.13 against the headers of Debian's arm64 Python and NumPy
# (tools/aarch64-python.sh). Each wheel gets the platform tag manylinux_2_28_<arch> and is
# checked (tools/check_wheels.py): auditwheel show must find it consistent with manylinux_2_28 or
# an older policy (so it needs no library outside the policy's), and its module must need no
# GLIBC_ symbol version above 2.28 and take memcpy, memmove and memset from the C library.
# The build trees stay in build/wheel-<tag>[-aarch64] (unstripped modules for the tests); logs
# are in build/wheels/logs.
set -euo pipefail
cd "$(dirname "$0")/.."

out=${WHEEL_DIR:-dist}
x86_64_tags=${WHEEL_TAGS-cp313 cp314 cp315 cp313t}
aarch64_tags=${AARCH64_WHEEL_TAGS-cp313}
glibc=2.28
work=build/wheels
logs=$work/logs
pip_opts=(--quiet --disable-pip-version-check)

. tools/logged.sh

rm -rf "$work/raw" "$logs" "$out"
mkdir -p "$work/raw" "$logs" "$out"

echo "== tools (build, wheel, auditwheel, ziglang)"
tools=$work/tools
[ -x "$tools/bin/python" ] || "$(tools/find-python.sh)" -m venv "$tools"
logged tools "$tools/bin/python" -m pip install "${pip_opts[@]}" build wheel auditwheel ziglang==0.17.1
# CMake takes one executable as the compiler: a wrapper per target triple.
for arch in x86_64 aarch64; do
    printf '#!/bin/sh\nexec "%s" -m ziglang c++ -target %s-linux-gnu.%s "$@"\n' \
        "$PWD/$tools/bin/python" "$arch" "$glibc" >"$work/c++-$arch"
    chmod +x "$work/c++-$arch"
done

echo "== source distribution"
logged sdist "$tools/bin/python" -m build --sdist --outdir "$out" .
sdist=$(ls "$out"/*.tar.gz)
echo "   $(basename "$sdist")"

# build_wheel TAG ARCH PYTHON [pip wheel options...]: a wheel of the sdist into build/wheels/raw.
build_wheel() {
    local tag=$1 arch=$2 python=$3 name=$1
    shift 3
    [ "$arch" = x86_64 ] || name=$tag-$arch
    local started=$SECONDS env=$work/env-$tag
    [ -x "$env/bin/python" ] || "$python" -m venv "$env"
    # NumPy's newest release need not have a wheel for every interpreter; a binary NumPy keeps
    # pip from compiling one from source for the build environment.
    logged "wheel-$name" "$env/bin/python" -m pip wheel "${pip_opts[@]}" --no-deps --only-binary=numpy \
        --wheel-dir "$work/raw/$name" -C "cmake.define.CMAKE_CXX_COMPILER=$PWD/$work/c++-$arch" \
        -C "build-dir=$PWD/build/wheel-$name" "$@" "$sdist"
    # The module needs nothing but the C library (the checks below make sure), so the platform
    # tag is all there is to repair. auditwheel repair knows only this machine's architecture;
    # wheel tags serves both.
    logged "tag-$name" "$tools/bin/wheel" tags --remove --platform-tag "manylinux_${glibc/./_}_$arch" \
        "$work/raw/$name"/*.whl
    mv "$work/raw/$name"/*.whl "$out/"
    echo "   $name: $((SECONDS - started)) s"
}

echo "== x86-64 wheels: $x86_64_tags"
for tag in $x86_64_tags; do
    build_wheel "$tag" x86_64 "$(tools/python-for-tag.sh "$tag")"
done

echo "== aarch64 wheels: $aarch64_tags"
if [ -n "$aarch64_tags" ]; then
    read -r python_include numpy_include <<<"$(tools/aarch64-python.sh --headers)"
fi
for tag in $aarch64_tags; do
    [ "$tag" = cp313 ] || { echo "only cp313 has arm64 headers here (Debian trixie's Python 3.13)" >&2; exit 1; }
    # The platform tag comes from _PYTHON_HOST_PLATFORM; everything else the build would take
    # from the interpreter running it is named here.
    _PYTHON_HOST_PLATFORM=linux-aarch64 build_wheel "$tag" aarch64 "$(tools/find-python.sh)" \
        -C cmake.define.CMAKE_SYSTEM_NAME=Linux -C cmake.define.CMAKE_SYSTEM_PROCESSOR=aarch64 \
        -C "cmake.define.Python_INCLUDE_DIR=$python_include" -C "cmake.define.NUMPY_INCLUDE_DIR=$numpy_include" \
        -C cmake.define.RUST_CORE_SOABI=cpython-313-aarch64-linux-gnu
done

echo "== checks (auditwheel show, GLIBC_ versions the module needs, the C library's memcpy/memmove/memset)"
PATH="$PWD/$tools/bin:$PATH" "$tools/bin/python" tools/check_wheels.py --glibc "$glibc" "$out"/*.whl
