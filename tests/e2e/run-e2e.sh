#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The real program under a virtual X display, driven by real input events,
# against the simulated receiver. Usage: run-e2e.sh BUILD_DIR OUT_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "$1")
out=$(realpath -m "$2")
program="$build/bondara"
mkdir -p "$out"
rm -f "$out"/*.log "$out"/*.png "$out"/*.trace

source "$here/../../tools/testlib.sh"

# A display of our own, and a runtime directory of our own so that the
# single-instance lock of a user's running copy does not interfere.
export XDG_RUNTIME_DIR=$(mktemp -d)
chmod 700 "$XDG_RUNTIME_DIR"
source "$here/../../tools/xvfb.sh"
trap 'stop_xvfb; pkill -f "^$program" 2>/dev/null; rm -rf "$XDG_RUNTIME_DIR"' EXIT
# At 96 dots per inch, as X servers and desktops report an unscaled screen:
# the window follows the screen's scale, and Xvfb's own default (100) is one.
if ! start_xvfb 60 -screen 0 1280x800x24 -dpi 96; then
    echo "FAIL: no virtual display to run the program on"
    exit 1
fi
# Type and text of every message, so warnings can be told from the debug log.
export QT_MESSAGE_PATTERN="%{type}: %{message}"

app_pid=""
# With the diagnostic log, which the checks below read.
start() { # start LOG SCENE [ARGS...]
    local log=$1 scene=$2
    shift 2
    BONDARA_SIMULATE="$scene" "$program" -v "$@" >"$log" 2>&1 &
    app_pid=$!
}
window() { xdotool search --sync --onlyvisible --classname bondara 2>/dev/null | head -n1; }
click() { xdotool mousemove "$1" "$2" click 1; sleep 0.3; }
shot() { import -window root -crop 1200x700+0+0 "$out/$1.png"; }
# pixels SHOT GEOMETRY COLOUR: how many pixels of the shot's area are exactly that colour.
pixels() {
    convert "$1" -crop "$2" +repage -fill black +opaque "$3" -fill white -opaque "$3" \
        -format "%[fx:round(mean*w*h)]" info:
}
# card_connected SHOT LEFT: the status row of the home card at LEFT (83 mouse, 635 keyboard)
# is written in the connected colour, and nothing in it in the colour of the other states.
card_connected() {
    [ "$(pixels "$1" "494x30+$2+538" "#A1A3DB")" -gt 20 ] && [ "$(pixels "$1" "494x30+$2+538" "#FF8473")" -eq 0 ]
}
# ended_run TRACE KIND: that kind's begin, one poll or more, then the end command, the last report.
ended_run() { [[ $(trace_frames "$1") =~ ^begin-$2,poll(\*[0-9]+)?,end$ ]]; }
# pairing_started LOG TRACE: the window shows the run and the receiver has had a poll.
pairing_started() { wait_log "$1" "^debug: status: 2" 5 && wait_log "$2" "[[:blank:]]ba a1 01 " 5; }
# The close button, then the exit code.
close_app() {
    click 1156 36
    local deadline=$((SECONDS + 10))
    while kill -0 "$app_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
    if kill -0 "$app_pid" 2>/dev/null; then
        kill -9 "$app_pid"
        return 99
    fi
    wait "$app_pid"
}
# The catalogue's own "Trans loadFolder" line goes to the warning log by design.
no_warnings() { ! grep -E '^(warning|critical|fatal): ' "$1" | grep -qv '^warning: Trans loadFolder'; }
# closes_cleanly WHAT LOG: the program ends within 10 s, with 0 and no warning.
closes_cleanly() {
    local deadline=$((SECONDS + 10)) code
    while kill -0 "$app_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
    if kill -0 "$app_pid" 2>/dev/null; then
        kill -9 "$app_pid"
        fail "$1 left the program running"
        return
    fi
    wait "$app_pid"
    code=$?
    if [ $code -eq 0 ] && no_warnings "$2"; then pass "$1 exits 0"; else fail "$1 (exit $code)"; fi
}

scenes="$here"

# 1. Start: connected before the window is shown, then pair a mouse.
log="$out/pair.log"
start "$log" "$scenes/pairs.json" -en
window >/dev/null
if wait_log "$log" "^debug: status: 1" 10; then pass "opens connected"; else fail "opens connected"; fi
shot home-connected-en
click 330 154 # "Mouse connect"
shot mouse-page-en
click 600 570 # "Matching code"
if wait_log "$log" "^debug: status: 2" 3; then pass "pairing starts"; else fail "pairing starts"; fi
sleep 0.3
shot pairing-working-en
if wait_log "$log" "^debug: status: 3" 10; then pass "pairs in real time"; else fail "pairs in real time"; fi
sleep 0.3
shot pairing-success-en

# 2. A second start raises the first and leaves at once, without a window.
before=$(xdotool search --onlyvisible --classname bondara | wc -l)
xdotool windowminimize "$(window)" 2>/dev/null
timeout 10 env BONDARA_SIMULATE="$scenes/pairs.json" "$program" -zh >"$out/second.log" 2>&1
code=$?
after=$(xdotool search --onlyvisible --classname bondara | wc -l)
if [ $code -eq 0 ] && [ "$after" -le "$before" ] && wait_log "$log" '"Bondara_2.0.0"' 5; then
    pass "second start hands over and exits 0"
else
    fail "second start (exit $code, windows $before -> $after)"
fi

# 3. The close button ends the program with 0, without a Qt warning.
close_app
code=$?
if [ $code -eq 0 ] && no_warnings "$log"; then pass "close button exits 0"; else fail "close (exit $code)"; fi

# 4. The language options: the texts the window fitted last are in that language.
for lang in en zh; do
    log="$out/lang-$lang.log"
    start "$log" "$scenes/pairs.json" "-$lang" ignored
    window >/dev/null
    shot "home-$lang"
    close_app
    expected=$([ $lang = en ] && echo "Keyboard connect" || echo "键盘对码")
    last=$(grep -E '^debug: "(Keyboard connect|键盘对码)"$' "$log" | tail -n1)
    if [ "$last" = "debug: \"$expected\"" ]; then pass "-$lang starts in its language"; else fail "-$lang: $last"; fi
done

# 5. The receiver goes away on its own: back to the home page, not connected.
log="$out/unplug.log"
start "$log" "$scenes/unplug.json" -en
window >/dev/null
click 610 154 # "Keyboard connect"
if wait_log "$log" "^debug: status: 0" 10; then
    sleep 0.3
    shot unplugged-en
    pass "unplugging returns home, not connected"
else
    fail "unplugging"
fi
close_app

# 6. A receiver that never answers yes: the full poll, then "Matched failed".
log="$out/never.log"
start "$log" "$scenes/never-pairs.json" -zh
window >/dev/null
click 330 154
click 600 570
if wait_log "$log" "^debug: status: 4" 45; then
    sleep 0.3
    shot pairing-failed-zh
    pass "a receiver that never pairs fails after the poll"
else
    fail "never pairs"
fi
close_app

# 7. Closing in the middle of a pairing does not wait for the poll to end.
log="$out/close-while-pairing.log"
start "$log" "$scenes/never-pairs.json" -en
window >/dev/null
click 330 154
click 600 570
wait_log "$log" "^debug: status: 2" 5
sleep 1
began=$SECONDS
close_app
code=$?
if [ $code -eq 0 ] && [ $((SECONDS - began)) -le 3 ] && no_warnings "$log"; then
    pass "closing during a pairing exits 0 at once"
else
    fail "closing during a pairing (exit $code after $((SECONDS - began)) s)"
fi

# 8. Fifty starts and closes in a row.
bad=0
for i in $(seq 50); do
    log="$out/start-$i.log"
    start "$log" "$scenes/pairs.json"
    window >/dev/null
    close_app
    code=$?
    if [ $code -ne 0 ] || ! no_warnings "$log"; then
        bad=$((bad + 1))
        echo "start $i: exit $code"
        grep -E '^(warning|critical|fatal): ' "$log" | grep -v '^warning: Trans loadFolder' | head -n 3
    else
        rm -f "$log"
    fi
done
if [ $bad -eq 0 ]; then pass "50 starts and closes"; else fail "$bad of 50 starts and closes"; fi

# 9. Quiet by default: a start and a close write nothing; help, version and a wrong option need no window.
log="$out/quiet.log"
BONDARA_SIMULATE="$scenes/pairs.json" "$program" -en >"$log" 2>&1 &
app_pid=$!
window >/dev/null
close_app
code=$?
if [ $code -eq 0 ] && [ ! -s "$log" ]; then pass "a normal start writes nothing"; else fail "quiet start (exit $code, $(wc -l <"$log") lines)"; fi
DISPLAY= "$program" --help >"$out/help.log" 2>&1
code=$?
if [ $code -eq 0 ] && grep -q -- '--verbose' "$out/help.log"; then pass "--help"; else fail "--help (exit $code)"; fi
DISPLAY= "$program" --version >"$out/version.log" 2>&1
code=$?
if [ $code -eq 0 ] && grep -q '^bondara [0-9]' "$out/version.log"; then pass "--version"; else fail "--version (exit $code)"; fi
DISPLAY= "$program" --bogus >"$out/bogus.out" 2>"$out/bogus.log"
code=$?
if [ $code -eq 2 ] && grep -q -- '--bogus' "$out/bogus.log" && [ ! -s "$out/bogus.out" ]; then
    pass "an unknown option is named, exit 2"
else
    fail "unknown option (exit $code)"
fi

# 10. Another device plugged in while a pairing runs in real time: page and bubble stay, the pairing succeeds.
log="$out/plug-during-pairing.log"
start "$log" "$scenes/plug-during-pairing.json" -en
window >/dev/null
click 330 154
click 600 570
if wait_log "$log" "^debug: Device Change: true \"sim:headset\"" 15; then
    sleep 0.5
    shot plug-during-pairing-en
    # The bubble is still turning: the working text on the pairing page, nothing new asked of the worker.
    if ! grep -q "^debug: status: [34]" "$log" && [ "$(grep -c '^debug: status: 2' "$log")" -eq 1 ] \
        && ! sed -n '/Device Change: true "sim:headset"/,$p' "$log" | grep -q '^debug: status: [01]'; then
        pass "another device during pairing changes nothing on screen"
    else
        fail "another device during pairing touched the window"
    fi
    if wait_log "$log" "^debug: status: 3" 15; then
        sleep 0.3
        shot plug-during-pairing-success-en
        pass "the pairing still succeeds"
    else
        fail "pairing after another device came"
    fi
else
    fail "the other device never came"
fi
close_app

# 11. A receiver found but closed to us: its own status, the hint, no pairing.
for lang in en zh; do
    log="$out/no-access-$lang.log"
    start "$log" "$scenes/no-access.json" "-$lang"
    window >/dev/null
    sleep 0.3
    shot "no-access-home-$lang"
    click 330 154
    shot "no-access-page-$lang"
    click 600 570 # the button is off: nothing starts
    sleep 0.3
    if grep -q "Permission denied" "$log" && ! grep -q "^debug: status: 2" "$log"; then
        pass "no access ($lang): reason logged, no pairing"
    else
        fail "no access ($lang)"
    fi
    close_app
done

# 12. A catalogue that cannot be used: both cards say so. The program reads it beside itself.
broken=$(mktemp -d)
cp "$program" "$broken/bondara"
mkdir -p "$broken/Config"
echo '{"DeviceList": [' >"$broken/Config/DeviceConfig.json"
for lang in en zh; do
    log="$out/list-unusable-$lang.log"
    BONDARA_SIMULATE="$scenes/pairs.json" "$broken/bondara" -v "-$lang" >"$log" 2>&1 &
    app_pid=$!
    window >/dev/null
    sleep 0.3
    shot "list-unusable-$lang"
    if grep -q "cannot use the device list" "$log"; then pass "unusable device list ($lang)"; else fail "unusable device list ($lang)"; fi
    close_app
done
rm -rf "$broken"

# 13. A lock left by a copy that is gone: killed, or its process id now another program's of the
# same name (which the lock's own check takes for the holder). Nothing listens on its socket, so
# the next start takes the lock over and opens its window; a later start hands over to that one.
log="$out/killed.log"
start "$log" "$scenes/pairs.json" -en
window >/dev/null
wait_log "$log" "^debug: status: 1" 10
kill -9 "$app_pid"
wait "$app_pid" 2>/dev/null
lock=$(ls "$XDG_RUNTIME_DIR"/Bondara_2.0.0-*.lock)
impostor=$(mktemp -d)
cp "$(command -v sleep)" "$impostor/bondara"
"$impostor/bondara" 60 &
impostor_pid=$!
printf '%s\n%s\n%s\n' "$impostor_pid" "$program" "$(hostname)" >"$lock"
log="$out/after-gone.log"
start "$log" "$scenes/pairs.json" -en
if window >/dev/null && wait_log "$log" "^debug: status: 1" 10; then
    timeout 10 env BONDARA_SIMULATE="$scenes/pairs.json" "$program" -zh >"$out/after-gone-second.log" 2>&1
    code=$?
    if [ $code -eq 0 ] && wait_log "$log" '"Bondara_2.0.0"' 5; then
        pass "a gone holder's lock is taken over, and the new copy is handed over to"
    else
        fail "after taking over a gone holder's lock, a second start (exit $code)"
    fi
else
    fail "a start over a gone holder's lock opened no window"
    cat "$log"
fi
close_app
kill "$impostor_pid" 2>/dev/null
rm -rf "$impostor"

# 14. A whole pairing with the keyboard alone, from the first key to Ctrl+Q.
log="$out/keyboard-only.log"
start "$log" "$scenes/pairs.json" -en
win=$(window)
keys() { xdotool key --clearmodifiers --delay 150 "$@"; sleep 0.3; }
if wait_log "$log" "^debug: status: 1" 10 && xdotool windowfocus --sync "$win"; then
    keys Tab shift+Tab # round the cards and back onto "Mouse connect"
    shot keyboard-home-ring-en
    keys Return
    shot keyboard-mouse-page-en
    keys space
    if wait_log "$log" "^debug: mCurrentDev: 1" 3 && wait_log "$log" "^debug: status: 3" 10; then
        sleep 0.3
        shot keyboard-paired-en
        pass "a mouse paired with key presses only"
    else
        fail "pairing by keys"
    fi
    keys Escape
    shot keyboard-back-home-en
    keys ctrl+q
    closes_cleanly "Ctrl+Q" "$log"
else
    fail "keyboard-only start"
    close_app
fi

# 15. Alt+F4 where no window manager takes it first: the window itself closes, with 0.
log="$out/alt-f4.log"
start "$log" "$scenes/pairs.json" -zh
xdotool windowfocus --sync "$(window)" && xdotool key --clearmodifiers alt+F4
closes_cleanly "Alt+F4" "$log"

# 16. Two receivers, one that pairs mice and one that pairs keyboards, each by its own catalogue
# entry: both cards are connected, the keyboard page names its receiver, and the keyboard's run
# goes to that receiver (the mouse receiver never answers yes, so only it can pair).
two=$(mktemp -d)
cp "$program" "$two/bondara"
mkdir -p "$two/Config"
cp "$scenes/two-receivers-catalogue.json" "$two/Config/DeviceConfig.json"
log="$out/two-receivers.log"
trace="$out/two-receivers.trace"
program="$two/bondara" BONDARA_SIMULATE_TRACE="$trace" start "$log" "$scenes/two-receivers.json" -en
window >/dev/null
if wait_log "$log" "^debug: status: 1" 10; then
    sleep 0.3
    shot two-receivers-home-en
    if card_connected "$out/two-receivers-home-en.png" 83 && card_connected "$out/two-receivers-home-en.png" 635; then
        pass "two receivers of one kind each: both cards connected"
    else
        fail "two receivers of one kind each: a card not connected"
    fi
    click 882 154 # "Keyboard connect"
    shot two-receivers-keyboard-page-en
    click 600 570
    if wait_log "$log" "^debug: status: 3" 10 && [ "$(trace_frames "$trace")" = "begin-keyboard,poll*4,end" ]; then
        sleep 0.3
        shot two-receivers-keyboard-paired-en
        pass "the keyboard pairs on the keyboard's receiver"
    else
        fail "pairing on the keyboard's receiver (sent $(trace_frames "$trace"))"
    fi
else
    fail "two receivers: never connected"
fi
close_app
rm -rf "$two"

# 17. Ctrl+Q while the bubble turns: the end command is the last report, and the program exits 0.
log="$out/ctrl-q-while-pairing.log"
trace="$out/ctrl-q-while-pairing.trace"
BONDARA_SIMULATE_TRACE="$trace" start "$log" "$scenes/never-pairs.json" -en
win=$(window)
click 330 154
click 600 570
if pairing_started "$log" "$trace" && xdotool windowfocus --sync "$win"; then
    shot ctrl-q-while-pairing-en
    keys ctrl+q
    closes_cleanly "Ctrl+Q during a pairing" "$log"
    if ended_run "$trace" mouse; then
        pass "Ctrl+Q during a pairing: the end command last"
    else
        fail "Ctrl+Q during a pairing sent $(trace_frames "$trace")"
    fi
else
    fail "a pairing to stop with Ctrl+Q"
    close_app
fi

# 18. SIGTERM during a pairing: the same, and the program then ends by the signal.
log="$out/sigterm-while-pairing.log"
trace="$out/sigterm-while-pairing.trace"
BONDARA_SIMULATE_TRACE="$trace" start "$log" "$scenes/never-pairs.json" -en
window >/dev/null
click 330 154
click 600 570
if pairing_started "$log" "$trace"; then
    kill -TERM "$app_pid"
    deadline=$((SECONDS + 10))
    while kill -0 "$app_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
    if kill -0 "$app_pid" 2>/dev/null; then
        kill -9 "$app_pid"
        fail "SIGTERM during a pairing left the program running"
    else
        wait "$app_pid"
        code=$?
        if [ $code -eq 143 ] && ended_run "$trace" mouse; then
            pass "SIGTERM during a pairing: the end command last, ended by the signal"
        else
            fail "SIGTERM during a pairing (exit $code, sent $(trace_frames "$trace"))"
        fi
    fi
else
    fail "a pairing to stop with SIGTERM"
    close_app
fi

# 19. Ctrl+C during bondara-cli pair: the end command last, exit 130.
trace="$out/cli-sigint.trace"
BONDARA_SIMULATE="$scenes/never-pairs.json" BONDARA_SIMULATE_TRACE="$trace" "$build/bondara-cli" pair mouse \
    >"$out/cli-sigint.log" 2>&1 &
cli_pid=$!
wait_log "$trace" "[[:blank:]]ba a1 01 " 5 && kill -INT "$cli_pid"
wait "$cli_pid"
code=$?
if [ $code -eq 130 ] && ended_run "$trace" mouse && grep -qx "Pairing stopped" "$out/cli-sigint.log"; then
    pass "Ctrl+C during bondara-cli pair: the end command last, exit 130"
else
    fail "Ctrl+C during bondara-cli pair (exit $code, sent $(trace_frames "$trace"))"
fi

# 20. The scaled window, and the program as a Wayland client (where weston is installed).
stop_xvfb
if "$here/run-scales.sh" "$build" "$out/scales"; then pass "desktop scales"; else fail "desktop scales"; fi
# 21. What a screen reader finds on an X display.
if "$here/run-a11y.sh" "$build" "$out/a11y"; then pass "screen reader"; else fail "screen reader"; fi
if command -v weston >/dev/null; then
    if "$here/../wayland/run-wayland.sh" "$build" "$out/wayland"; then pass "Wayland"; else fail "Wayland"; fi
else
    echo "SKIP: Wayland (no weston)"
fi

summary
