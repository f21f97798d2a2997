#!/usr/bin/env bash
# Prints the path of a CPython VERSION (default 3.13) from Debian's packages, fetched or built
# once into a cache folder:
#   tools/debian-python.sh [--free-threaded | --thread-sanitizer] [VERSION]
# The suite is trixie for 3.13 and sid for newer versions.
# - Without an option: the suite's binary packages, unpacked, never installed into this machine.
#   They need a newer C library than this machine's, so the interpreter is pointed at the
#   unpacked loader and libraries (patchelf) and then runs like any other, venvs included.
# - --free-threaded (./configure --disable-gil), --thread-sanitizer (the same with ThreadSanitizer):
#   Debian builds neither, so the upstream tarball inside the suite's source package is built
#   here, with this machine's compiler and C library. A sanitizer build is used from its build
#   folder: installing would byte-compile the standard library under the sanitizer, which takes
#   longer than the build. Only its headers are installed, where its sysconfig (and so CMake's
#   FindPython) looks for them.
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
. "$tools/debian-archive.sh"

variant="" suffix="" configure_extra=()
case "${1:-}" in
    --free-threaded) suffix=t configure_extra=(--disable-gil); shift ;;
    --thread-sanitizer) suffix=t variant=-tsan configure_extra=(--disable-gil --with-thread-sanitizer); shift ;;
esac
version=${1:-3.13}
case "$version" in
    3.13) suite=trixie ;;
    3.1[4-9]) suite=sid ;;
    *) echo "no Debian package of CPython $version" >&2; exit 1 ;;
esac
cache="${RC_PYTHON_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tsmoo-kernels}/python$version$suffix$variant"

interpreter() {
    # Before the first build nothing matches: that is an empty answer, not a failure.
    if [ -z "$suffix" ]; then echo "$cache/root/usr/bin/python$version"
    elif [ -n "$variant" ]; then { ls -d "$cache"/src/Python-"$version"*/python 2>/dev/null || true; } | head -n 1
    else echo "$cache/prefix/bin/python$version$suffix"; fi
}

unpack_binary_packages() {
    command -v patchelf >/dev/null || { apt-get update -qq && apt-get install -y -qq patchelf; }
    rm -rf "$cache/root"
    debian_apt_state "$cache/apt" "$suite" deb amd64
    apt-get "${apt_opts[@]}" update -qq
    # The interpreter with everything it needs down to the C library, and the headers alone
    # (their package's own dependencies are a compiler's).
    apt-get "${apt_opts[@]}" install -y -qq --download-only "python$version" "python$version-venv"
    (cd "$cache/apt/archives" && apt-get "${apt_opts[@]}" download -qq "libpython$version-dev")
    # Unpacked aside and moved into place whole, so that a half-done tree is never taken for one.
    local root=$cache/root partial=$cache/root.partial deb
    rm -rf "$partial"
    mkdir -p "$partial"
    for deb in "$cache"/apt/archives/*.deb; do dpkg-deb -x "$deb" "$partial"; done
    rm -rf "$cache/apt/archives"
    local libs=$root/usr/lib/x86_64-linux-gnu
    patchelf --set-interpreter "$libs/ld-linux-x86-64.so.2" --force-rpath --set-rpath "$libs" \
        "$partial/usr/bin/python$version"
    # ensurepip takes pip from the folder named at build time (/usr/share/python-wheels): the
    # unpacked one holds the suite's pip, the machine's an older one or none.
    sed -i "s|'WHEEL_PKG_DIR': '/usr/share/python-wheels/'|'WHEEL_PKG_DIR': '$root/usr/share/python-wheels/'|" \
        "$partial/usr/lib/python$version"/_sysconfigdata_*.py
    # Debian's pyconfig.h picks the architecture's copy by the compiler's macros from a folder
    # above the include folder; the copy itself keeps the include folder whole.
    cp "$partial/usr/include/x86_64-linux-gnu/python$version/pyconfig.h" "$partial/usr/include/python$version/pyconfig.h"
    mv "$partial" "$root"
    "$root/usr/bin/python$version" -c "import ssl, sqlite3, ctypes, zlib, lzma, bz2, ensurepip" ||
        { rm -rf "$root"; exit 1; }
}

build_from_source() {
    # Build dependencies of the modules the tests need (ssl for pip, zlib, ctypes, ...).
    command -v gcc >/dev/null && dpkg -s libssl-dev zlib1g-dev libffi-dev >/dev/null 2>&1 ||
        { apt-get update -qq && apt-get install -y -qq build-essential libssl-dev zlib1g-dev libffi-dev \
            libbz2-dev liblzma-dev libsqlite3-dev; }
    rm -rf "$cache/src" "$cache/prefix"
    debian_apt_state "$cache/apt" "$suite" deb-src
    apt-get "${apt_opts[@]}" update -qq
    mkdir -p "$cache/src"
    cd "$cache/src"
    if ! apt-get "${apt_opts[@]}" source --download-only "python$version"; then
        echo "the archive did not serve the source of python$version ($suite)" >&2
        exit 1
    fi
    tar xf "python${version}_"*.orig.tar.xz
    cd Python-"$version"*/
    ./configure "${configure_extra[@]}" --prefix="$cache/prefix" --with-ensurepip=no -q
    make -j"$(nproc)" -s
    if [ -z "$variant" ]; then
        make -s altinstall
        "$cache/prefix/bin/python$version$suffix" -m ensurepip >/dev/null
    fi
}

python="$(interpreter)"
if [ -z "$python" ] || [ ! -x "$python" ]; then
    if [ -z "$suffix" ]; then unpack_binary_packages >&2; else build_from_source >&2; fi
    python="$(interpreter)"
fi
if [ -n "$variant" ] && [ ! -f "$cache/prefix/include/python$version$suffix/Python.h" ]; then
    make -C "$(dirname "$python")" -s inclinstall >&2
fi
echo "$python"
