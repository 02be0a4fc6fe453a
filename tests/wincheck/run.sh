#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cross-compiles the Windows backend with mingw-w64, warnings as errors, and
# runs the check program under wine (both from Debian: tools/setup installs them).
# Usage: tests/wincheck/run.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m "${1:-$root/build/wincheck}")

cmake -S "$root/tests/wincheck" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)"

# Debian's wine64 keeps its launcher and server out of PATH.
wine=$(command -v wine64 || true)
if [ -z "$wine" ] && [ -x /usr/lib/wine/wine64 ]; then
    wine=/usr/lib/wine/wine64
fi
if [ -z "$wine" ]; then
    echo "wincheck: wine64 is not installed, so the program was cross-compiled but not run"
    exit 0
fi
wineserver=$(dirname "$wine")/wineserver64
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

# A prefix of our own, quiet, without the Mono and Gecko installers it would
# otherwise offer; no display, since the program opens no visible window.
export WINEPREFIX="$build/wineprefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

started=$SECONDS
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # Its chatter about the 32-bit half that Debian's wine64 lacks is no failure.
    timeout 300 "$wine" wineboot --init >"$build/wineboot.log" 2>&1 || {
        cat "$build/wineboot.log"
        echo "wincheck: the wine prefix could not be made"
        exit 1
    }
    echo "wincheck: wine prefix made in $((SECONDS - started)) s"
fi

status=0
timeout 120 "$wine" "$build/bondara-wincheck.exe" || status=$?
# Let wine's server for this prefix end before we return.
timeout 60 "$wineserver" -w || "$wineserver" -k || true
echo "wincheck: ran under wine in $((SECONDS - started)) s, exit status $status"
exit "$status"
