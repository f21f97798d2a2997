#!/bin/sh
# Prints the first Python >= 3.13 found on this machine ($PYTHON first, if set).
ok() { "$1" -c 'import sys; sys.exit(sys.version_info < (3, 13))' >/dev/null 2>&1; }
for candidate in "$PYTHON" python3.13 python3.14 python3 /usr/bin/python3.13 /usr/local/bin/python3.13 \
    "$HOME"/.pyenv/versions/3.1[3-9]*/bin/python3 /root/.pyenv/versions/3.1[3-9]*/bin/python3; do
    [ -n "$candidate" ] || continue
    if ok "$candidate"; then
        command -v "$candidate" 2>/dev/null || echo "$candidate"
        exit 0
    fi
done
echo "no Python >= 3.13 found; set PYTHON=/path/to/python3.13" >&2
exit 1
