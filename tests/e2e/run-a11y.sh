#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The window as a screen reader finds it on an X display, over the
# accessibility bus of a session of its own. In both languages, on the home page and on a pairing page,
# every control has a role, a name in the window's language and an action,
# every text and picture shown has a name, and nothing, shown or hidden, has a
# name in the other language; each change of a pairing's status is told once;
# during a run a reader finds the time left and can press the stop.
# Usage: run-a11y.sh BUILD_DIR OUT_DIR [running]
# ("running": the check during a run alone, which the full run calls in a bus
# session of its own: a second copy in one session never shows on its bus.)
set -uo pipefail
# The bus and the reader run without the display: the accessibility bus
# started with one leaves the program's connection unanswered. Only the
# program is given it.
unset DISPLAY
# A runtime directory of our own, made before the session: the accessibility
# bus puts its socket there, and not where another run's would be, and the
# single-instance lock of a user's running copy stays out of the way.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../tools/testlib.sh"
in_own_bus_session "$0" "$@"
build=$(realpath "$1")
out=$(realpath -m "$2")
program="$build/bondara"
atspi() { /usr/bin/python3 "$here/../a11y/atspi.py" "$@"; }
mkdir -p "$out"
rm -f "$out"/*.log "$out"/*.txt


source "$here/../../tools/xvfb.sh"
app_pid=""
trap '[ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null; stop_xvfb' EXIT
if ! start_xvfb 60 -screen 0 1280x800x24 -dpi 96; then
    echo "FAIL: no virtual display"
    exit 1
fi
display=$DISPLAY
unset DISPLAY
# Qt 5 shows itself on the bus when told to, as it is by the desktop's
# accessibility setting.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_MESSAGE_PATTERN="%{type}: %{message}"

part=${3:-all}
scene=$here/pairs.json
[ "$part" = running ] && scene=$here/never-pairs.json
log="$out/a11y.log"
DISPLAY=$display BONDARA_SIMULATE="$scene" "$program" -v -en >"$log" 2>&1 &
app_pid=$!
wait_log "$log" "^debug: status: 1" 10
# Ready once a reader finds the home page; nothing more to ask of a program it cannot find.
if ! atspi "$app_pid" text "Welcome!" >"$out/ready.txt" 2>&1; then
    echo "FAIL: the program is not on the accessibility bus ($(tr '\n' ' ' <"$out/ready.txt"))"
    exit 1
fi

# check LANG FILE: the tree against what a reader needs.
check() {
    if atspi "$app_pid" check "$1" >"$out/$2.txt" 2>&1; then
        pass "accessible tree: $2"
    else
        fail "accessible tree: $2 ($(grep -E '^FAULT|^no application' "$out/$2.txt" | tr '\n' ';'))"
    fi
}
# told LANG BUTTON TEXT...: the pairing's texts, each told once.
told() {
    local lang=$1
    shift
    if atspi "$app_pid" announce "$@" >"$out/told-$lang.txt" 2>&1; then
        pass "each status told once ($lang)"
    else
        fail "status told ($lang): $(tr '\n' ';' <"$out/told-$lang.txt")"
    fi
}

if [ "$part" = running ]; then
    # During a run the reader finds the time left and a stop it can press.
    atspi "$app_pid" press "Mouse connect" && atspi "$app_pid" press "Matching code"
    wait_log "$log" "^debug: status: 2" 5
    check en running-en
    if grep -q '"Time left to pair" .*waiting time left' "$out/running-en.txt" \
        && atspi "$app_pid" press "Stop pairing" && wait_log "$log" "^debug: stop asked" 5; then
        pass "a run tells the time left and stops from its reader"
    else
        fail "time left or stop during a run"
    fi
    summary
    exit
fi

check en home-en
atspi "$app_pid" press "Mouse connect"
check en page-en
told en "Matching code" "In the progress of matching code..." "Matched successfully"
wait_log "$log" "^debug: status: 3" 10
atspi "$app_pid" press "Back" && atspi "$app_pid" press "Language" && atspi "$app_pid" press "中文"
check zh home-zh
atspi "$app_pid" press "鼠标对码"
check zh page-zh
told zh "对码" "对码中..." "配对成功"

atspi "$app_pid" press "关闭"
deadline=$((SECONDS + 10))
while kill -0 "$app_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
if kill -0 "$app_pid" 2>/dev/null; then
    fail "still running after its close button"
else
    wait "$app_pid"
    code=$?
    app_pid=""
    if [ $code -eq 0 ] && ! grep -qE '^(critical|fatal): ' "$log"; then pass "closed by its reader's press, 0"; else fail "close (exit $code)"; fi
fi

if BONDARA_OWN_BUS= "$0" "$build" "$out/running" running; then pass "during a run"; else fail "during a run"; fi

summary
