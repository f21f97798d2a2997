#!/usr/bin/env bash
# Prints the path of a command that runs Debian trixie's arm64 Python 3.13 under user-mode
# emulation (qemu-aarch64), with NumPy, pytest and hypothesis from Debian's arm64 packages. The
# packages are unpacked once into a cache folder, never installed into this machine. The command
# is a small script that hands the emulated interpreter its own path as argv[0]: it becomes
# sys.executable, so a test's subprocess goes through the emulator again, which the arm64 binary
# itself could not (without a binfmt registration, which this machine lacks). The interpreter
# then finds its standard library under /usr, which the emulator looks up in the unpacked tree.
#   tools/aarch64-python.sh --headers   prints the include folders of Python and NumPy instead
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
. "$tools/debian-archive.sh"

cache="${RC_PYTHON_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tsmoo-kernels}/aarch64-trixie"
root=$cache/root
python=$cache/bin/python3.13

if [ ! -e "$root/.complete" ]; then
    {
        command -v qemu-aarch64 >/dev/null || { apt-get update -qq && apt-get install -y -qq qemu-user; }
        rm -rf "$cache"
        debian_apt_state "$cache/apt" trixie deb arm64
        apt-get "${apt_opts[@]}" update -qq
        apt-get "${apt_opts[@]}" install -y -qq --download-only python3.13 python3-numpy python3-pytest \
            python3-pytest-timeout python3-hypothesis python3-pip
        # The headers alone, for cross builds: their package's dependencies are a compiler's.
        (cd "$cache/apt/archives" && apt-get "${apt_opts[@]}" download -qq libpython3.13-dev)
        mkdir -p "$root"
        for deb in "$cache"/apt/archives/*.deb; do dpkg-deb -x "$deb" "$root"; done
        rm -rf "$cache/apt/archives"
        # The loader's and BLAS's usual names: links that the packages' scripts would have made.
        ln -s usr/lib "$root/lib"
        ln -s usr/bin "$root/bin"
        (cd "$root/usr/lib/aarch64-linux-gnu" && ln -s blas/libblas.so.3 . && ln -s lapack/liblapack.so.3 .)
        # Debian's pyconfig.h picks the architecture's copy by the compiler's macros from a
        # folder above the include folder; the copy itself keeps the include folder whole.
        cp "$root/usr/include/aarch64-linux-gnu/python3.13/pyconfig.h" "$root/usr/include/python3.13/pyconfig.h"
        touch "$root/.complete"
    } >&2
fi
# The emulated processor is a Neoverse N1 (Graviton2, Ampere Altra): the emulator's default model
# signs and checks return addresses with an algorithm it computes in software, which makes
# Debian's arm64 binaries (built to use it) some twenty times slower still.
mkdir -p "$cache/bin"
cat >"$python.tmp" <<SCRIPT
#!/bin/sh
exec qemu-aarch64 -cpu neoverse-n1 -L "$root" -0 "\$0" "$root/usr/bin/python3.13" "\$@"
SCRIPT
chmod +x "$python.tmp"
mv "$python.tmp" "$python"
if [ "${1:-}" = "--headers" ]; then
    echo "$root/usr/include/python3.13 $root/usr/lib/python3/dist-packages/numpy/_core/include"
else
    echo "$python"
fi
