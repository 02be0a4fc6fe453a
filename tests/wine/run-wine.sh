#!/usr/bin/env bash
# The Windows program under wine, on a virtual X display, in a fresh wine prefix:
# bondara-cli.exe on wine's own HID devices and on a simulated scene; the window painted in
# both languages (against the Linux program's layout), paired by clicks, handed over to by a
# second start and closed; then the installer: silent install, the installed program, an
# upgrade over an edited catalogue, silent uninstall.
# Usage: run-wine.sh WINDOWS_BUILD_DIR LINUX_PROGRAM OUT_DIR
#   WINDOWS_BUILD_DIR: from tools/build-windows (stage/ and bondara-*-setup.exe in it)
#   LINUX_PROGRAM: the native bondara, whose screenshots the Windows ones are held against
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(realpath "$1")
linux_program=$(realpath -m "$2")
out=$(realpath -m "$3")
stage="$build/stage"
scenes="$root/tests/e2e"
started=$SECONDS

passed=0
failed=0
pass() { echo "PASS: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
fatal() { echo "FAIL: $*"; echo "$passed passed, $((failed + 1)) failed"; exit 1; }

setup=$(ls "$build"/bondara-*-setup.exe 2>/dev/null | head -n1)
[ -f "$stage/bondara.exe" ] && [ -f "$stage/bondara-cli.exe" ] || fatal "no Windows build in $stage"
[ -n "$setup" ] || fatal "no installer in $build"
[ -x "$linux_program" ] || fatal "no Linux program at $linux_program to compare the screens with"

# Debian's wine64 keeps its launcher and server out of PATH.
wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64
[ -x "$wine" ] || fatal "wine64 is not installed (tools/setup installs it)"
wineserver=$(dirname "$wine")/wineserver64
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

rm -rf "$out"
mkdir -p "$out"
export WINEPREFIX="$out/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Qt writes its log to stderr, not to the debugger, and says what kind each line is.
export QT_FORCE_STDERR_LOGGING=1 QT_MESSAGE_PATTERN="%{type}: %{message}"
unset WAYLAND_DISPLAY BONDARA_SIMULATE
winpath() { printf 'Z:%s' "$1"; }

# A display of our own, used once it says it is ready.
mkfifo "$out/displayfd"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$out/displayfd" >"$out/xvfb.log" 2>&1 &
xvfb=$!
read -r -t 30 number <"$out/displayfd" || fatal "Xvfb did not start"
rm -f "$out/displayfd"
export DISPLAY=":$number"
runtime=$(mktemp -d)
chmod 700 "$runtime"
cleanup() {
    "$wineserver" -k 2>/dev/null
    kill "$xvfb" 2>/dev/null
    rm -rf "$runtime"
}
trap cleanup EXIT

step=$SECONDS
timeout 300 "$wine" wineboot --init >"$out/wineboot.log" 2>&1 || fatal "the wine prefix could not be made"
timeout 60 "$wineserver" -w
echo "wine prefix made in $((SECONDS - step)) s"

app_pid=""
wait_log() { # wait_log LOG PATTERN SECONDS
    local deadline=$((SECONDS + $3))
    while [ $SECONDS -lt $deadline ]; do
        grep -q -- "$2" "$1" 2>/dev/null && return 0
        sleep 0.2
    done
    return 1
}
# The window's id and its top-left corner (X, Y); wine places it where Windows would.
win_id="" X=0 Y=0
find_window() { # find_window SECONDS
    local deadline=$((SECONDS + $1))
    while [ $SECONDS -lt $deadline ]; do
        # Wine's windows carry no name on X: the window is the visible one of the program's size.
        for win_id in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
            eval "$(xdotool getwindowgeometry --shell "$win_id")"
            [ "$WIDTH" = 1200 ] && [ "$HEIGHT" = 700 ] && { X=$X Y=$Y; return 0; }
        done
        sleep 0.2
    done
    return 1
}
click() { xdotool mousemove $((X + $1)) $((Y + $2)) click 1; sleep 0.5; }
shot() { import -window root -crop "1200x700+$X+$Y" +repage "$out/$1.png"; }
start_windows() { # start_windows LOG EXE [ARGS...]
    local log=$1 exe=$2
    shift 2
    "$wine" "$exe" "$@" >"$log" 2>&1 &
    app_pid=$!
}
# The close button, then the exit code.
close_app() {
    click 1156 36
    local deadline=$((SECONDS + 20))
    while kill -0 "$app_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.2; done
    if kill -0 "$app_pid" 2>/dev/null; then
        kill -9 "$app_pid"
        wait "$app_pid" 2>/dev/null
        return 99
    fi
    wait "$app_pid"
}
# Mean difference of two screens reduced to 120 x 70 grey cells (0 same, 1 opposite): the
# layout counts, how the font's edges are smoothed does not.
difference() {
    convert "$1" -colorspace Gray -resize '120x70!' "$out/cells-a.png"
    convert "$2" -colorspace Gray -resize '120x70!' "$out/cells-b.png"
    compare -metric RMSE "$out/cells-a.png" "$out/cells-b.png" null: 2>&1 | sed -n 's/.*(\(.*\)).*/\1/p'
}
less_than() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }
painted() { less_than 0.05 "$(convert "$1" -colorspace Gray -format '%[fx:standard_deviation]' info:)"; }

# --- 1. bondara-cli.exe -------------------------------------------------------------------
cli="$stage/bondara-cli.exe"
step=$SECONDS
timeout 60 "$wine" "$cli" list >"$out/cli-list-wine.txt" 2>&1
code=$?
if [ $code -le 1 ] && grep -q '"Wine HID mouse"' "$out/cli-list-wine.txt" \
    && grep -q '"Wine HID keyboard"' "$out/cli-list-wine.txt"; then
    pass "cli list shows wine's own HID devices"
else
    fail "cli list on wine's devices (exit $code)"
    cat "$out/cli-list-wine.txt"
fi
BONDARA_SIMULATE=$(winpath "$scenes/pairs.json") timeout 60 "$wine" "$cli" list >"$out/cli-list-sim.txt" 2>&1
code=$?
if [ $code -eq 0 ] && grep -q '^match: ' "$out/cli-list-sim.txt" && grep -q 'sim:receiver#col02' "$out/cli-list-sim.txt"
then
    pass "cli list finds the simulated receiver"
else
    fail "cli list on the scene (exit $code)"
    cat "$out/cli-list-sim.txt"
fi
BONDARA_SIMULATE=$(winpath "$scenes/pairs.json") timeout 90 "$wine" "$cli" pair mouse >"$out/cli-pair.txt" 2>&1
code=$?
if [ $code -eq 0 ] && grep -q 'Matched successfully' "$out/cli-pair.txt"; then
    pass "cli pairs a mouse with the simulated receiver"
else
    fail "cli pair (exit $code)"
    cat "$out/cli-pair.txt"
fi
BONDARA_SIMULATE=$(winpath "$scenes/never-pairs.json") timeout 90 "$wine" "$cli" pair keyboard \
    >"$out/cli-never.txt" 2>&1
code=$?
if [ $code -eq 1 ] && grep -q 'Matched failed' "$out/cli-never.txt"; then
    pass "cli reports a receiver that never pairs"
else
    fail "cli pair on a receiver that never pairs (exit $code)"
    cat "$out/cli-never.txt"
fi
echo "bondara-cli.exe checks: $((SECONDS - step)) s"

# --- 2. The Linux program's screens, the layout the Windows ones must have -----------------
for lang in en zh; do
    XDG_RUNTIME_DIR="$runtime" BONDARA_SIMULATE="$scenes/pairs.json" "$linux_program" "-$lang" \
        >"$out/linux-$lang.log" 2>&1 &
    app_pid=$!
    if find_window 20 && wait_log "$out/linux-$lang.log" "^debug: status: 1" 10; then
        sleep 0.5
        shot "linux-home-$lang"
        close_app >/dev/null
    else
        kill -9 "$app_pid" 2>/dev/null
        fatal "the Linux program showed no window to compare with"
    fi
done

# --- 3. The window ------------------------------------------------------------------------
program="$stage/bondara.exe"
export BONDARA_SIMULATE
BONDARA_SIMULATE=$(winpath "$scenes/pairs.json")
for lang in en zh; do
    log="$out/home-$lang.log"
    step=$SECONDS
    start_windows "$log" "$program" "-$lang"
    if find_window 60 && wait_log "$log" "^debug: status: 1" 20; then
        sleep 1
        shot "home-$lang"
        echo "window $lang shown in $((SECONDS - step)) s"
        other=$([ $lang = en ] && echo zh || echo en)
        same=$(difference "$out/home-$lang.png" "$out/linux-home-$lang.png")
        cross=$(difference "$out/home-$lang.png" "$out/linux-home-$other.png")
        echo "screen difference to Linux: $same in -$lang, $cross against -$other"
        if painted "$out/home-$lang.png" && less_than "$same" 0.08 && less_than "$same" "$cross"; then
            pass "-$lang paints the home page as on Linux"
        else
            fail "-$lang home page differs from Linux (difference $same, other language $cross)"
        fi
    else
        fail "-$lang: the window did not show connected"
        cat "$log"
    fi
    if [ $lang = en ]; then
        # Paired by clicks, as a user would.
        click 330 154 # "Mouse connect"
        shot mouse-page-en
        click 600 570 # "Matching code"
        if wait_log "$log" "^debug: status: 2" 5 && wait_log "$log" "^debug: status: 3" 30; then
            sleep 0.5
            shot pairing-success-en
            pass "pairs with the simulated receiver by clicks"
        else
            fail "pairing by clicks"
        fi
        # A second start hands over to the first through the single-instance guard, and leaves.
        before=$(xdotool search --onlyvisible --name '^Bondara$' | wc -l)
        timeout 60 "$wine" "$program" -zh >"$out/second.log" 2>&1
        code=$?
        after=$(xdotool search --onlyvisible --name '^Bondara$' | wc -l)
        if [ $code -eq 0 ] && [ "$after" -le "$before" ] && wait_log "$log" '"Bondara_2.0.0"' 10; then
            pass "a second start hands over and exits 0"
        else
            fail "second start (exit $code, windows $before -> $after)"
            cat "$out/second.log"
        fi
    fi
    close_app
    code=$?
    if [ $code -eq 0 ] && ! grep -E '^(critical|fatal): ' "$log"; then
        pass "-$lang: the close button exits 0"
    else
        fail "-$lang: close (exit $code)"
    fi
done
unset BONDARA_SIMULATE
if grep -q '^debug: \[INFO\] Add Font:' "$out/home-en.log" && ! grep -q 'error : ' "$out"/home-*.log; then
    pass "the embedded font is loaded"
else
    fail "the embedded font"
fi

# On wine's own devices: the Windows backend walks them and the watcher's hidden window is
# registered for WM_DEVICECHANGE.
log="$out/native.log"
start_windows "$log" "$program" -en
if find_window 60 && wait_log "$log" "not found device" 20; then
    sleep 1
    shot native-home-en
    if grep -q 'RegisterDeviceNotification' "$log"; then
        fail "the watcher's window was refused device notifications"
    else
        pass "starts on wine's devices, not connected, with device notifications registered"
    fi
else
    fail "the window on wine's devices"
    cat "$log"
fi
close_app || fail "the window on wine's devices: close"

# --- 4. The installer ---------------------------------------------------------------------
installed="$WINEPREFIX/drive_c/Program Files/Bondara"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Bondara.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Bondara'
install() {
    local begun=$SECONDS
    timeout 120 "$wine" "$setup" /S >>"$out/setup.log" 2>&1 && timeout 60 "$wineserver" -w
    local code=$?
    echo "silent install: $((SECONDS - begun)) s, exit $code"
    return $code
}

install
code=$?
expected=(bondara.exe bondara-cli.exe Qt5Core.dll Qt5Gui.dll Qt5Widgets.dll Qt5Network.dll
    platforms/qwindows.dll styles/qwindowsvistastyle.dll libstdc++-6.dll Config/DeviceConfig.json uninstall.exe)
missing=""
for file in "${expected[@]}"; do
    [ -f "$installed/$file" ] || missing="$missing $file"
done
if [ $code -eq 0 ] && [ -z "$missing" ] && [ -f "$shortcut" ] \
    && "$wine" reg query "$key" /v UninstallString 2>/dev/null | grep -q 'uninstall.exe'; then
    pass "silent install: Program Files, Start menu, Add/Remove Programs"
else
    fail "silent install (exit $code, missing:${missing:- none}, shortcut $([ -f "$shortcut" ] && echo yes || echo no))"
fi

log="$out/installed.log"
export BONDARA_SIMULATE
BONDARA_SIMULATE=$(winpath "$scenes/pairs.json")
start_windows "$log" "C:\\Program Files\\Bondara\\bondara.exe" -en
if find_window 60 && wait_log "$log" "^debug: status: 1" 20; then
    sleep 1
    shot installed-home-en
    if close_app; then pass "the installed program starts and closes with 0"; else fail "installed program: close"; fi
else
    fail "the installed program did not start"
    kill -9 "$app_pid" 2>/dev/null
    cat "$log"
fi
unset BONDARA_SIMULATE

# An upgrade over an unedited catalogue replaces it; over an edited one it stays.
install
if cmp -s "$installed/Config/DeviceConfig.json" "$stage/Config/DeviceConfig.json" \
    && [ ! -e "$installed/Config/DeviceConfig.json.new" ]; then
    pass "an upgrade replaces an unedited catalogue"
else
    fail "an upgrade over an unedited catalogue"
fi
printf '\n' >>"$installed/Config/DeviceConfig.json"
cp "$installed/Config/DeviceConfig.json" "$out/edited.json"
install
if cmp -s "$installed/Config/DeviceConfig.json" "$out/edited.json" \
    && cmp -s "$installed/Config/DeviceConfig.json.new" "$stage/Config/DeviceConfig.json"; then
    pass "an upgrade keeps an edited catalogue, with this release's beside it"
else
    fail "an upgrade over an edited catalogue"
fi

begun=$SECONDS
timeout 120 "$wine" "C:\\Program Files\\Bondara\\uninstall.exe" /S >"$out/uninstall.log" 2>&1
code=$?
timeout 60 "$wineserver" -w
echo "silent uninstall: $((SECONDS - begun)) s"
if [ $code -eq 0 ] && [ ! -e "$installed" ] && [ ! -e "$shortcut" ] \
    && ! "$wine" reg query "$key" >/dev/null 2>&1; then
    pass "silent uninstall removes files, shortcut and registry entry"
else
    fail "uninstall (exit $code; left: $(find "$installed" 2>/dev/null | head -n 5 | tr '\n' ' '))"
fi

echo "wine stage: $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
