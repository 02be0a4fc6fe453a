#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The program as a native Wayland client of a headless weston, driven over the
# accessibility bus (a headless compositor takes no input from outside): it
# starts on Wayland, shows its window, pairs a mouse on the simulated receiver,
# hands over to a second start, and its close button ends it with 0. A
# screenshot of the compositor's output shows the window drawn.
# Usage: run-wayland.sh BUILD_DIR OUT_DIR
set -uo pipefail
# A session bus of our own, for the accessibility bus it starts.
# No X display: the accessibility bus would wait on one.
unset DISPLAY
# Its runtime directory, made before the session, keeps the accessibility bus's
# socket apart from another run's.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../tools/testlib.sh"
in_own_bus_session "$0" "$@"
build=$(realpath "$1")
out=$(realpath -m "$2")
program="$build/bondara"
scenes="$here/../e2e"
atspi() { /usr/bin/python3 "$here/../a11y/atspi.py" "$@"; }
mkdir -p "$out"
rm -f "$out"/*.log


export XDG_RUNTIME_DIR=$(mktemp -d)
chmod 700 "$XDG_RUNTIME_DIR"
socket="bondara-$$"
# Drawn in memory by the pixman renderer (headless draws nothing by default),
# on a plain background the window is told from, without a panel; --debug lets
# weston-screenshooter take the output.
cat >"$XDG_RUNTIME_DIR/weston.ini" <<'INI'
[shell]
background-color=0xffff00ff
panel-position=none
INI
weston --backend=headless-backend.so --use-pixman --debug --config="$XDG_RUNTIME_DIR/weston.ini" \
    --socket="$socket" --idle-time=0 --width=1280 --height=800 >"$out/weston.log" 2>&1 &
weston_pid=$!
app_pid=""
trap '[ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null; kill "$weston_pid" 2>/dev/null; wait "$weston_pid" 2>/dev/null; rm -rf "$XDG_RUNTIME_DIR"' EXIT
# Ready once its socket exists; gone if weston gave up.
deadline=$((SECONDS + 30))
while [ ! -S "$XDG_RUNTIME_DIR/$socket" ]; do
    if ! kill -0 "$weston_pid" 2>/dev/null || [ $SECONDS -ge $deadline ]; then
        echo "FAIL: weston did not start"
        sed 's/^/  weston: /' "$out/weston.log"
        exit 1
    fi
    sleep 0.05
done
export WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
export QT_MESSAGE_PATTERN="%{type}: %{message}"

log="$out/wayland.log"
BONDARA_SIMULATE="$scenes/pairs.json" "$program" -v -en >"$log" 2>&1 &
app_pid=$!
if wait_log "$log" '^debug: platform: "wayland"' 10; then pass "runs as a Wayland client"; else fail "not on Wayland"; fi
if wait_log "$log" "^debug: status: 1" 10 && kill -0 "$app_pid"; then pass "starts, receiver connected"; else fail "start"; fi
if atspi "$app_pid" text "Welcome!" >"$out/home.txt"; then pass "the home page is shown"; else fail "home page"; fi
# The first frame may follow the page by a moment: shot again until drawn, or 10 s.
rm -f "$out"/home.png "$out"/wayland-screenshot-*.png
deadline=$((SECONDS + 10))
while :; do
    (cd "$out" && weston-screenshooter >"$out/screenshooter.log" 2>&1)
    mv "$out"/wayland-screenshot-*.png "$out/home.png" 2>/dev/null
    if [ -f "$out/home.png" ] && /usr/bin/python3 "$here/painted.py" "$out/home.png" >"$out/painted.txt" 2>&1; then
        pass "the window is drawn ($(tr '\n' ' ' <"$out/painted.txt"))"
        break
    fi
    if [ $SECONDS -ge $deadline ]; then
        fail "the window is not drawn: $(cat "$out/screenshooter.log" "$out/painted.txt" 2>/dev/null | tr '\n' ' ')"
        break
    fi
    sleep 0.2
done
# What a screen reader finds: every control with a role, a name in the window's language and an action.
if atspi "$app_pid" check en >"$out/tree-home-en.txt"; then pass "accessible tree, English"; else fail "accessible tree, English (tree-home-en.txt)"; fi
atspi "$app_pid" press "Language" && atspi "$app_pid" press "中文"
if atspi "$app_pid" check zh >"$out/tree-home-zh.txt"; then pass "accessible tree, Chinese"; else fail "accessible tree, Chinese (tree-home-zh.txt)"; fi
atspi "$app_pid" press "语言" && atspi "$app_pid" press "English"
atspi "$app_pid" press "Mouse connect"
if atspi "$app_pid" check en >"$out/tree-page-en.txt"; then pass "accessible tree, pairing page"; else fail "accessible tree, pairing page (tree-page-en.txt)"; fi
# The bubble's texts reach a screen reader as they change.
if atspi "$app_pid" announce "Matching code" "In the progress of matching code..." "Matched successfully" \
    >"$out/announced.txt" 2>&1; then
    pass "status changes are announced"
else
    fail "status changes are announced ($(tr '\n' ';' <"$out/announced.txt"))"
fi
if wait_log "$log" "^debug: status: 2" 5 && wait_log "$log" "^debug: status: 3" 10; then
    pass "pairs a mouse"
else
    fail "pairing"
fi
if atspi "$app_pid" text "Matched successfully" >"$out/paired.txt"; then pass "the result is shown"; else fail "result"; fi

# A second start hands over and leaves with 0.
BONDARA_SIMULATE="$scenes/pairs.json" timeout 10 "$program" >"$out/second.log" 2>&1
code=$?
if [ $code -eq 0 ] && wait_log "$log" '"Bondara_2.0.0"' 5 && kill -0 "$app_pid"; then
    pass "second start hands over, first stays"
else
    fail "second start (exit $code)"
fi

atspi "$app_pid" press "Close"
deadline=$((SECONDS + 10))
while kill -0 "$app_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
if kill -0 "$app_pid" 2>/dev/null; then
    fail "still running after its close button"
else
    wait "$app_pid"
    code=$?
    app_pid=""
    if [ $code -eq 0 ] && ! grep -E '^(critical|fatal): ' "$log"; then pass "close exits 0"; else fail "close (exit $code)"; fi
fi

summary
