#!/bin/bash
# Runs the Windows serial tests under wine against a pseudo-terminal that
# echoes every byte, mapped into the wine prefix as COM5.
#
#   scripts/wine-serial-test.sh path/to/kel_tests.exe [gtest arguments]
set -euo pipefail

exe=${1:?usage: $0 path/to/kel_tests.exe [gtest arguments]}
shift
port=${KEL_WINE_COM_PORT:-5}
prefix=${WINEPREFIX:-$HOME/.wine}
export WINEDEBUG=${WINEDEBUG:--all}

if [ ! -d "$prefix/dosdevices" ]; then
  WINEPREFIX=$prefix wineboot --init >/dev/null 2>&1 || true
fi
mkdir -p "$prefix/dosdevices"

work=$(mktemp -d)
echo_pid=""
cleanup() {
  [ -n "$echo_pid" ] && kill "$echo_pid" 2>/dev/null || true
  rm -f "$prefix/dosdevices/com$port"
  rm -rf "$work"
}
trap cleanup EXIT

# The far end: a pseudo-terminal master that echoes what it reads. It
# prints the slave's path once it is ready.
python3 -u - >"$work/slave" <<'PY' &
import os, pty, select, tty
master, slave = pty.openpty()
tty.setraw(slave)
print(os.ttyname(slave), flush=True)
while True:
    ready, _, _ = select.select([master], [], [], 1.0)
    if ready:
        try:
            data = os.read(master, 4096)
        except OSError:
            continue
        os.write(master, data)
PY
echo_pid=$!

for _ in $(seq 50); do
  [ -s "$work/slave" ] && break
  sleep 0.1
done
slave=$(head -n1 "$work/slave")
[ -n "$slave" ] || { echo "the echoing pseudo-terminal did not start" >&2; exit 1; }

ln -sfn "$slave" "$prefix/dosdevices/com$port"
KEL_WINE_COM_PORT=$port WINEPREFIX=$prefix wine "$exe" --gtest_filter='Win32Serial*' "$@"
