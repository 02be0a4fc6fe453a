#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
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

source "$here/../../tools/testlib.sh"
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
# The Linux program's log says what kind each line is.
export QT_MESSAGE_PATTERN="%{type}: %{message}"
unset WAYLAND_DISPLAY BONDARA_SIMULATE
winpath() { printf 'Z:%s' "$1"; }

# A display of our own, used once it says it is ready.
source "$root/tools/xvfb.sh"
start_xvfb 30 || fatal "Xvfb did not start"
runtime=$(mktemp -d)
chmod 700 "$runtime"
cleanup() {
    "$wineserver" -k 2>/dev/null
    stop_xvfb
    rm -rf "$runtime"
}
trap cleanup EXIT

step=$SECONDS
timeout 300 "$wine" wineboot --init >"$out/wineboot.log" 2>&1 || fatal "the wine prefix could not be made"
timeout 60 "$wineserver" -w
echo "wine prefix made in $((SECONDS - step)) s"

app_pid=""
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
# The Windows program's log does not leave wine, so its states are read off the screen, as a
# user reads them: wait_screen NAME REFERENCE OTHER SECONDS waits until the window's shot NAME
# has the layout of the Linux REFERENCE and is nearer to it than to OTHER (the screen before).
# With a REGION (WxH+X+Y) that part, where the state shows (a status line, a bubble), must
# also be nearer to REFERENCE's than to OTHER's, and close to it.
near=""
# The region's part of a picture, grey and halved, as the region checks compare it.
region_of() { # region_of PICTURE REGION OUT
    convert "$1" -crop "$2" +repage -colorspace Gray -resize 50% "$3"
}
region_rmse() { compare -metric RMSE "$1" "$2" null: 2>&1 | sed -n 's/.*(\(.*\)).*/\1/p'; }
wait_screen() { # wait_screen NAME REFERENCE OTHER SECONDS [REGION]
    local deadline=$((SECONDS + $4)) far="" part="" part_far=""
    if [ $# -ge 5 ]; then
        region_of "$out/$2.png" "$5" "$out/region-near.png"
        region_of "$out/$3.png" "$5" "$out/region-far.png"
    fi
    while [ $SECONDS -lt $deadline ]; do
        # The region first, grabbed alone so that each look is quick: a result shows only
        # for a few seconds, fading and sliding away.
        if [ $# -ge 5 ]; then
            local size=${5%%+*} offset=${5#*+}
            import -window root -crop "${size}+$((X + ${offset%%+*}))+$((Y + ${offset#*+}))" +repage \
                -colorspace Gray -resize 50% "$out/region-now.png"
            part=$(region_rmse "$out/region-now.png" "$out/region-near.png")
            part_far=$(region_rmse "$out/region-now.png" "$out/region-far.png")
            if ! less_than "$part" 0.045 || ! less_than "$part" "$part_far"; then
                continue
            fi
        fi
        shot "$1"
        near=$(difference "$out/$1.png" "$out/$2.png")
        far=$(difference "$out/$1.png" "$out/$3.png")
        painted "$out/$1.png" && less_than "$near" 0.08 && less_than "$near" "$far" && return 0
        sleep 0.1
    done
    echo "  $1: difference ${near:-?} to $2, ${far:-?} to $3${part:+; in $5 $part and $part_far}"
    return 1
}
# How many windows of the program's size are shown.
shown_count() {
    local id count=0 X Y WIDTH HEIGHT SCREEN WINDOW
    for id in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$id")"
        [ "$WIDTH" = 1200 ] && [ "$HEIGHT" = 700 ] && count=$((count + 1))
    done
    echo $count
}

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
# A descriptor whose bytes include a CR LF pair and a ^Z, which a text-mode
# standard input would translate and stop at.
printf '\x06\x0d\x0a\x09\x1a\xa1\x01\x75\x08\x95\x01\x81\x02\xc0' >"$out/crlf.bin"
timeout 60 "$wine" "$cli" descriptor "$(winpath "$out/crlf.bin")" >"$out/cli-descriptor-file.txt" 2>&1
file_code=$?
timeout 60 "$wine" "$cli" descriptor - <"$out/crlf.bin" >"$out/cli-descriptor-stdin.txt" 2>&1
stdin_code=$?
if [ $file_code -eq 0 ] && [ $stdin_code -eq 0 ] && grep -q '0a0d:001a' "$out/cli-descriptor-file.txt" \
    && cmp -s "$out/cli-descriptor-file.txt" "$out/cli-descriptor-stdin.txt"; then
    pass "cli reads a descriptor from standard input byte for byte"
else
    fail "cli descriptor from standard input (exit $stdin_code, from the file $file_code)"
    diff "$out/cli-descriptor-file.txt" "$out/cli-descriptor-stdin.txt"
fi
# The program, its catalogue, a scene (with its trace) and a descriptor in folders that wine's
# ANSI code page cannot spell; on Western Windows these are a Russian's or a Chinese user's.
acp=$("$wine" reg query 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' /v ACP 2>/dev/null \
    | sed -n 's/.*REG_SZ[[:space:]]*\([0-9]*\).*/\1/p')
[ "$acp" = 1252 ] || fatal "wine's ANSI code page is ${acp:-unknown}, not the Western 1252 the folder checks need"
for folder in Приёмник 接收器; do
    dir="$out/$folder"
    mkdir -p "$dir/Config"
    cp "$stage"/*.dll "$cli" "$dir/"
    cp "$stage/Config/DeviceConfig.json" "$dir/Config/"
    cp "$scenes/pairs.json" "$out/crlf.bin" "$dir/"
    BONDARA_SIMULATE=$(winpath "$dir/pairs.json") BONDARA_SIMULATE_TRACE=$(winpath "$dir/trace.txt") \
        timeout 60 "$wine" "$dir/bondara-cli.exe" list >"$out/cli-list-$folder.txt" 2>&1
    code=$?
    if [ $code -eq 0 ] && grep -q 'sim:receiver#col02' "$out/cli-list-$folder.txt" && [ -f "$dir/trace.txt" ]; then
        pass "cli in $folder: its catalogue and the scene there are read, the trace made"
    else
        fail "cli in $folder: list on the scene there (exit $code, trace $([ -f "$dir/trace.txt" ] && echo made || echo missing))"
        cat "$out/cli-list-$folder.txt"
    fi
    timeout 60 "$wine" "$cli" descriptor "$(winpath "$dir/crlf.bin")" >"$out/cli-descriptor-$folder.txt" 2>&1
    code=$?
    if [ $code -eq 0 ] && cmp -s "$out/cli-descriptor-$folder.txt" "$out/cli-descriptor-file.txt"; then
        pass "cli reads a descriptor in $folder"
    else
        fail "cli descriptor in $folder (exit $code)"
        cat "$out/cli-descriptor-$folder.txt"
    fi
done
echo "bondara-cli.exe checks: $((SECONDS - step)) s"

# --- 2. The Linux program's screens, the layout the Windows ones must have -----------------
# Its log says when each screen is reached.
for lang in en zh; do
    log="$out/linux-$lang.log"
    XDG_RUNTIME_DIR="$runtime" BONDARA_SIMULATE="$scenes/pairs.json" "$linux_program" -v "-$lang" >"$log" 2>&1 &
    app_pid=$!
    find_window 20 && wait_log "$log" "^debug: status: 1" 10 \
        || { kill -9 "$app_pid" 2>/dev/null; fatal "the Linux program showed no window to compare with"; }
    sleep 0.5
    shot "linux-home-$lang"
    if [ $lang = en ]; then
        click 330 154 # "Mouse connect"
        sleep 0.5
        shot linux-mouse-page-en
        click 600 570 # "Matching code"
        wait_log "$log" "^debug: status: 3" 30 || { kill -9 "$app_pid"; fatal "the Linux program did not pair"; }
        sleep 0.5
        shot linux-pairing-success-en
    fi
    close_app >/dev/null
done

# --- 3. The window ------------------------------------------------------------------------
status_line=220x30+235+537 # the mouse card's status
bubble=360x56+420+600      # the pairing page's progress and result
program="$stage/bondara.exe"
export BONDARA_SIMULATE
BONDARA_SIMULATE=$(winpath "$scenes/pairs.json")
for lang in en zh; do
    log="$out/home-$lang.log"
    other=$([ $lang = en ] && echo zh || echo en)
    step=$SECONDS
    start_windows "$log" "$program" -v "-$lang"
    if ! find_window 60; then
        kill -9 "$app_pid" 2>/dev/null
        wait "$app_pid" 2>/dev/null
        fatal "-$lang: no window"
    fi
    if wait_screen "home-$lang" "linux-home-$lang" "linux-home-$other" 20 "$status_line"; then
        echo "window $lang shown in $((SECONDS - step)) s"
        pass "-$lang paints the home page as on Linux (difference $near)"
    else
        fail "-$lang home page differs from Linux"
    fi
    if [ $lang = en ]; then
        # Paired by clicks, as a user would.
        click 330 154 # "Mouse connect"
        if wait_screen mouse-page-en linux-mouse-page-en linux-home-en 10; then
            click 600 570 # "Matching code"
            if wait_screen pairing-success-en linux-pairing-success-en linux-mouse-page-en 30 "$bubble"; then
                pass "pairs with the simulated receiver by clicks"
            else
                fail "pairing by clicks: no success screen"
            fi
        else
            fail "pairing by clicks: the mouse page did not open"
        fi
        # A second start hands over to the first through the single-instance guard and leaves
        # with 0, which it does only once the first copy took its message (a holder that does
        # not answer gives 1, a gone one a second window). Wine without a window manager keeps
        # a minimized window on screen, so the raise itself cannot be watched here.
        before=$(shown_count)
        timeout 60 "$wine" "$program" -zh >"$out/second.log" 2>&1
        code=$?
        sleep 2
        after=$(shown_count)
        if [ $code -eq 0 ] && [ "$after" -eq "$before" ] \
            && wait_screen second-start pairing-success-en linux-home-zh 5; then
            pass "a second start hands over and exits 0"
        else
            fail "second start (exit $code, windows $before -> $after)"
            cat "$out/second.log"
        fi
    fi
    close_app
    code=$?
    if [ $code -eq 0 ]; then
        pass "-$lang: the close button exits 0"
    else
        fail "-$lang: close (exit $code)"
    fi
done
unset BONDARA_SIMULATE

# On wine's own devices: the Windows backend walks them and finds no receiver, so the
# home page is painted with both cards not connected.
log="$out/native.log"
start_windows "$log" "$program" -v -en
if find_window 60 && wait_screen native-home-en linux-home-en linux-home-zh 20; then
    sleep 2
    shot native-home-en
    convert "$out/native-home-en.png" -crop 200x24+240+540 +repage "$out/native-status.png"
    convert "$out/home-en.png" -crop 200x24+240+540 +repage "$out/connected-status.png"
    status=$(compare -metric RMSE "$out/native-status.png" "$out/connected-status.png" null: 2>&1 \
        | sed -n 's/.*(\(.*\)).*/\1/p')
    if less_than 0.02 "$status"; then
        pass "starts on wine's devices, the mouse not connected (status differs by $status)"
    else
        fail "on wine's devices the mouse shows connected (status differs by $status)"
    fi
else
    fail "the window on wine's devices"
fi
# Killed, it leaves its lock behind, naming a process id that wine soon gives to another
# process: the next start finds nobody listening, takes the lock over and shows its window.
kill -9 "$app_pid"
wait "$app_pid" 2>/dev/null
timeout 30 "$wineserver" -w
log="$out/after-kill.log"
start_windows "$log" "$program" -v -en
if find_window 60 && wait_screen after-kill-en linux-home-en linux-home-zh 20; then
    pass "a start after a killed copy takes over its lock"
else
    fail "a start after a killed copy (exit $(kill -0 "$app_pid" 2>/dev/null && echo none || { wait "$app_pid"; echo $?; }))"
fi
close_app || fail "the window after a killed copy: close"

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
start_windows "$log" "C:\\Program Files\\Bondara\\bondara.exe" -v -en
if find_window 60 && wait_screen installed-home-en linux-home-en linux-home-zh 20; then
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
summary
