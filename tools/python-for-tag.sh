#!/usr/bin/env bash
# Prints the interpreter that builds and tests the wheels of a CPython tag: cp313 is this
# machine's Python 3.13 (tools/find-python.sh), the others come from Debian's packages
# (tools/debian-python.sh), cp3XYt being free-threaded.
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
case "${1:-}" in
    cp313) exec "$tools/find-python.sh" ;;
    cp3[1-9][0-9]t) version=${1#cp3}; exec "$tools/debian-python.sh" --free-threaded "3.${version%t}" ;;
    cp3[1-9][0-9]) exec "$tools/debian-python.sh" "3.${1#cp3}" ;;
    *) echo "usage: $0 cp3XY | cp3XYt" >&2; exit 1 ;;
esac
