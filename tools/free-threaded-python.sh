#!/usr/bin/env bash
# Builds a free-threaded CPython 3.13 (./configure --disable-gil) once into a cache folder and
# prints the path of its interpreter. No distribution packages it for this machine, so the
# source comes from Debian's python3.13 source package (the upstream tarball inside it).
# With --thread-sanitizer the interpreter is built with ThreadSanitizer into a cache folder of its
# own and used from its build folder: installing would byte-compile the standard library under
# the sanitizer, which takes longer than the build.
set -euo pipefail
variant="" configure_extra=()
if [ "${1:-}" = "--thread-sanitizer" ]; then variant="-tsan" configure_extra=(--with-thread-sanitizer); fi
cache="${RC_FT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tsmoo-kernels/python3.13t}$variant"
interpreter() {
    # Before the first build nothing matches: that is an empty answer, not a failure.
    if [ -n "$variant" ]; then { ls -d "$cache"/src/Python-3.13*/python 2>/dev/null || true; } | head -n 1
    else echo "$cache/prefix/bin/python3.13t"; fi
}
python="$(interpreter)"
if [ -n "$python" ] && [ -x "$python" ]; then echo "$python"; exit 0; fi

mkdir -p "$cache/apt/lists/partial" "$cache/src"
sources="$cache/apt/trixie.sources"
cat >"$sources" <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: trixie
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
apt_opts=(-o "Dir::Etc::sourcelist=$sources" -o "Dir::Etc::sourceparts=-" -o "Dir::State::Lists=$cache/apt/lists")
{
    # Build dependencies of the modules the tests need (ssl for pip, zlib, ctypes, ...).
    command -v gcc >/dev/null && dpkg -s libssl-dev zlib1g-dev libffi-dev >/dev/null 2>&1 ||
        { apt-get update -qq && apt-get install -y -qq build-essential libssl-dev zlib1g-dev libffi-dev \
            libbz2-dev liblzma-dev libsqlite3-dev; }
    apt-get "${apt_opts[@]}" update -qq
    cd "$cache/src"
    apt-get "${apt_opts[@]}" source --download-only python3.13
    tar xf python3.13_*.orig.tar.xz
    cd Python-3.13*/
    ./configure --disable-gil "${configure_extra[@]}" --prefix="$cache/prefix" --with-ensurepip=no -q
    make -j"$(nproc)" -s
    if [ -z "$variant" ]; then
        make -s altinstall
        "$cache/prefix/bin/python3.13t" -m ensurepip >/dev/null
    fi
} >&2
interpreter
