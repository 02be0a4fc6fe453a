#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The window at desktop scales 1, 1.5 and 2 on a screen big enough for each:
# its size follows the scale, nothing is clipped or moved against the 1 x
# window, and the pictures are drawn sharp rather than enlarged.
# Usage: run-scales.sh BUILD_DIR OUT_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "$1")
out=$(realpath -m "$2")
program="$build/bondara"
mkdir -p "$out"
rm -f "$out"/*.log "$out"/*.png

source "$here/../../tools/testlib.sh"

export XDG_RUNTIME_DIR=$(mktemp -d)
chmod 700 "$XDG_RUNTIME_DIR"
source "$here/../../tools/xvfb.sh"
app_pid=""
trap 'stop_xvfb; [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null; rm -rf "$XDG_RUNTIME_DIR"' EXIT
# 96 dots per inch: the scale is QT_SCALE_FACTOR's alone.
if ! start_xvfb 60 -screen 0 2560x1600x24 -dpi 96; then
    echo "FAIL: no virtual display"
    exit 1
fi
export QT_MESSAGE_PATTERN="%{type}: %{message}"
at() { awk -v v="$1" -v s="$2" 'BEGIN { printf "%d", v * s + 0.5 }'; }

for scale in 1 1.5 2; do
    log="$out/scale-$scale.log"
    QT_SCALE_FACTOR=$scale BONDARA_SIMULATE="$here/pairs.json" "$program" -v -en >"$log" 2>&1 &
    app_pid=$!
    win=$(xdotool search --sync --onlyvisible --classname bondara | head -n1)
    wait_log "$log" "^debug: status: 1" 10
    eval "$(xdotool getwindowgeometry --shell "$win")"
    w=$(at 1200 $scale)
    h=$(at 700 $scale)
    # Within the pixel the rounding of the scale may add.
    if [ $((WIDTH - w)) -ge -1 ] && [ $((WIDTH - w)) -le 1 ] && [ $((HEIGHT - h)) -ge -1 ] && [ $((HEIGHT - h)) -le 1 ]; then
        pass "scale $scale: the window is ${w}x${h}"
    else
        fail "scale $scale: the window is ${WIDTH}x${HEIGHT}, expected ${w}x${h}"
    fi
    sleep 0.5
    import -window root -crop "${w}x${h}+${X}+${Y}" "$out/home-$scale.png"
    xdotool mousemove "$((X + $(at 330 $scale)))" "$((Y + $(at 154 $scale)))" click 1
    sleep 0.8
    xdotool mousemove "$((X + $(at 600 $scale)))" "$((Y + $(at 690 $scale)))"
    sleep 0.3
    import -window root -crop "${w}x${h}+${X}+${Y}" "$out/page-$scale.png"
    xdotool mousemove "$((X + $(at 1156 $scale)))" "$((Y + $(at 36 $scale)))" click 1
    deadline=$((SECONDS + 10))
    while kill -0 "$app_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
    kill -0 "$app_pid" 2>/dev/null && kill -9 "$app_pid"
    wait "$app_pid"
    code=$?
    app_pid=""
    if [ $code -eq 0 ] && ! grep -qE '^(critical|fatal): ' "$log"; then pass "scale $scale: closes with 0"; else fail "scale $scale: exit $code"; fi
done

for scale in 1.5 2; do
    for page in home page; do
        if /usr/bin/python3 "$here/scales.py" "$out/$page-1.png" "$out/$page-$scale.png" "$scale" >"$out/$page-$scale.txt" 2>&1; then
            pass "scale $scale, $page: as laid out at 1 x, pictures sharp ($(tr '\n' ' ' <"$out/$page-$scale.txt"))"
        else
            fail "scale $scale, $page: $(tr '\n' ' ' <"$out/$page-$scale.txt")"
        fi
    done
done

summary
