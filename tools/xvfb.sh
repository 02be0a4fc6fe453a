# SPDX-License-Identifier: MIT
# Sourced by the scripts that need a virtual X display.
#
# start_xvfb [SECONDS [XVFB_ARGS...]]: starts Xvfb on a display number it picks
# itself, waits until it accepts clients (it writes the number to -displayfd
# only then), exports DISPLAY and sets XVFB_PID. Fails with a message when the
# server exits or is not ready within SECONDS (30 by default): no fixed sleep
# that a loaded machine can outlast.
start_xvfb() {
    local seconds=${1:-30}
    [ $# -gt 0 ] && shift
    local args=("$@")
    [ ${#args[@]} -gt 0 ] || args=(-screen 0 1280x800x24)
    local dir number=""
    dir=$(mktemp -d) || return 1
    mkfifo "$dir/displayfd" || { rm -rf "$dir"; return 1; }
    # 96 DPI unless told otherwise: Qt scales a window by the screen's DPI.
    Xvfb -displayfd 3 -nolisten tcp -dpi 96 "${args[@]}" 3>"$dir/displayfd" >"$dir/log" 2>&1 &
    XVFB_PID=$!
    # The reader ends at the number, or at end of file when Xvfb exits first.
    local status=0
    read -r -t "$seconds" number <"$dir/displayfd" || status=$?
    if [ -z "$number" ]; then
        if [ "$status" -gt 128 ]; then
            echo "Xvfb: no display ready after ${seconds} s" >&2
            kill "$XVFB_PID" 2>/dev/null
        else
            echo "Xvfb: exited before its display was ready" >&2
        fi
        sed 's/^/  Xvfb: /' "$dir/log" >&2
        wait "$XVFB_PID" 2>/dev/null
        XVFB_PID=""
        rm -rf "$dir"
        return 1
    fi
    rm -rf "$dir"
    export DISPLAY=":$number"
}

# stop_xvfb: ends the server start_xvfb started, if any.
stop_xvfb() {
    if [ -n "${XVFB_PID:-}" ]; then
        kill "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
        XVFB_PID=""
    fi
    return 0
}
