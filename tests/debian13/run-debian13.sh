#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Bondara on Debian 13 ("trixie"), in the root tools/setup-debian13 keeps, through tools/in-root:
# an overlay over that root, in a mount namespace of its own, so the root is never changed. The
# work tree goes in read-only. Inside: the package built by tools/package against Qt 6.8 with
# GCC 14, warnings as errors, its build running the suites offscreen; the package checked with
# Debian 13's lintian, installed with apt from Debian 13's packages, and used on the simulated
# receiver; then removed and purged. Run as root. Usage: run-debian13.sh OUT_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
numbered=1
source "$root/tools/testlib.sh"

if [ "${1:-}" != --inside ]; then
    [ $# -eq 1 ] || { echo "usage: $0 OUT_DIR" >&2; exit 2; }
    out=$(realpath -m "$1")
    if [ "$(id -u)" -ne 0 ]; then
        fail "the stage needs root, for its mount namespace and overlay"
        summary
        exit 1
    fi
    rm -rf "$out/out"
    mkdir -p "$out/out"
    started=$SECONDS
    if ! debian13=$("$root/tools/setup-debian13" 2>"$out/setup.log" | tail -n 1) || [ ! -d "$debian13" ]; then
        fail "tools/setup-debian13 makes the Debian 13 root"
        sed 's/^/    /' "$out/setup.log"
        summary
        exit 1
    fi
    pass "the Debian 13 root: $debian13 ($(tail -n 1 "$out/setup.log" | sed 's/^setup-debian13: //'), $((SECONDS - started)) s)"

    "$root/tools/in-root" --bind-ro "$root" /src --bind "$out/out" /out "$debian13" "$out/namespace" -- \
        /src/tests/debian13/run-debian13.sh --inside "$passed" "$failed"
    code=$?
    if [ "$code" -eq 125 ] || [ ! -s "$out/out/counts" ]; then
        fail "the stage ran in the root (status $code; nothing reported from inside)"
    else
        read -r passed failed <"$out/out/counts"
    fi

    # The overlay takes every write: nothing in the root is newer than its completion mark.
    check "the cached root is unchanged" root_unchanged "$debian13"
    check "no mount of the stage is left on the machine" bash -c \
        '! grep -F " $1/" /proc/self/mountinfo' _ "$out"
    summary
    exit
fi

# --- inside the Debian 13 root, as root; the work tree is /src (read-only) ----------------------
passed=$2
failed=$3
out=/out
trap 'echo "$passed $failed" >"$out/counts"' EXIT
export QT_QPA_PLATFORM=offscreen DEBIAN_FRONTEND=noninteractive
jobs=2

# elapsed STEP COMMAND...: runs the command and records how long it took in $out/times.
elapsed() {
    local step=$1 started=$SECONDS code
    shift
    "$@"
    code=$?
    echo "$step $((SECONDS - started))" >>"$out/times"
    return $code
}
took() { sed -n "s/^$1 //p" "$out/times"; }

check "Debian 13 with GCC 14 and Qt 6.8" bash -c '
    . /etc/os-release && [ "$VERSION_ID" = 13 ] || { cat /etc/os-release; exit 1; }
    [ "$(gcc -dumpversion)" = 14 ] || { gcc --version; exit 1; }
    qt=$(dpkg-query -W -f="\${Version}" qt6-base-dev) && [ "${qt#6.8.}" != "$qt" ] || { echo "Qt $qt"; exit 1; }'

# The tree is built once, by the package's own build, which runs the suites too, with warnings
# as errors. Every suite runs, the pairing service's too: it makes its own bus, polkit and users
# in a namespace of its own, binds that bus over /run/dbus and finds the machine unchanged after,
# /run/mount (libmount's) included. A booted system has both; the root's empty /run does not.
mkdir -p /run/dbus /run/mount
package_with_suites() {
    DEB_BUILD_OPTIONS="" DEB_BUILD_PROFILES=pkg.bondara.werror nice /src/tools/package "$out/package" \
        >"$out/package.log" 2>&1
}
elapsed package package_with_suites
code=$?
build_log=$out/package/build.log
configured=$(grep -o 'BONDARA_QT=[56]\|BONDARA_TESTS=[A-Z]*\|BONDARA_WERROR=ON' "$build_log" | sort -u | tr '\n' ' ')
if [ $code -eq 0 ] && [ "$configured" = "BONDARA_QT=6 BONDARA_TESTS=ON BONDARA_WERROR=ON " ] &&
    grep -q 'The CXX compiler identification is GNU 14\.' "$build_log"; then
    pass "tools/package builds Debian 13's package against Qt 6.8 with GCC 14, the suites too, warnings as errors ($(took package) s)"
else
    fail "tools/package builds Debian 13's package against Qt 6.8 with GCC 14, the suites too, warnings as errors (status $code, configured: $configured)"
    grep -A 12 -m 5 "error:" "$build_log" | sed 's/^/    /'
    tail -n 30 "$out/package.log" | sed 's/^/    /'
fi
suites=$(grep -o '[0-9]*% tests passed.*' "$build_log" | head -n 1)
if [ $code -eq 0 ] && grep -q '^100% tests passed' <<<"$suites"; then
    pass "the suites, offscreen, in the package's build: $suites"
else
    fail "the suites, offscreen, in the package's build: ${suites:-none ran}"
    grep -E "^ *[0-9]+/[0-9]+ Test.*(Failed|Timeout|Not Run)|tests passed|^(PASS|FAIL):" "$build_log" |
        sed 's/^/    /' | tail -n 40
fi
[ $code -eq 0 ] || exit 1
upstream=$(dpkg-parsechangelog -l /src/packaging/debian/changelog -S Version)
deb=$(sed -n 's/^package: \(.*\.deb\)$/\1/p' "$out/package.log")
check "the package is Debian 13's: $(basename "$deb")" /src/packaging/check-release.sh "$deb" 13 "$upstream"

check "tools/package refuses a release it does not know, naming it" unshare --mount -- bash -c '
    printf "ID=debian\nVERSION_CODENAME=forky\nPRETTY_NAME=\"Debian GNU/Linux forky/sid\"\n" >/tmp/os-release &&
        mount --bind /tmp/os-release /etc/os-release || exit 1
    output=$(/src/tools/package /tmp/refused 2>&1) && { echo "built: $output"; exit 1; }
    grep -q "forky" <<<"$output" && [ ! -e /tmp/refused ] || { echo "$output"; exit 1; }'

check "lintian (Debian 13's): no errors or warnings" bash -c '
    lintian --fail-on error,warning --info --pedantic --display-experimental "$1" >"$2/lintian.log" 2>&1 ||
        { cat "$2/lintian.log"; exit 1; }' _ "$deb" "$out"

# --- installed, used, removed -----------------------------------------------------------------------
# The root has no package lists: every dependency comes from the root's own Debian 13 packages.
install_and_use() {
    if apt-get install -y --no-install-recommends "$deb" >"$out/install.log" 2>&1; then
        pass "apt-get install ./$(basename "$deb"): its dependencies from Debian 13's packages"
    else
        fail "apt-get install ./$(basename "$deb")"
        tail -n 20 "$out/install.log" | sed 's/^/    /'
        return
    fi
    local scene=/tmp/receiver.json unit=/usr/lib/systemd/system/bondara-pairing.service
    install -m 644 /src/tools/scenes/receiver.json "$scene"
    check "the pairing service's files where Debian 13 wants them; systemd 257 verifies the unit" bash -c '
        for file in "$1" /usr/share/dbus-1/system-services/org.bondara.Pairing1.service \
                    /usr/share/dbus-1/system.d/org.bondara.Pairing1.conf /usr/share/polkit-1/actions/org.bondara.pair.policy; do
            [ "$(stat -c %U:%a "$file")" = root:644 ] || { ls -l "$file"; exit 1; }
        done
        output=$(systemd-analyze verify "$1" 2>&1) && [ -z "$output" ] || { echo "$output"; exit 1; }' _ "$unit"
    check "bondara-cli --help names list, doctor and pair" bash -c '
        help=$(bondara-cli --help) && for command in list doctor pair; do grep -q "^  $command " <<<"$help" || exit 1; done'
    check "bondara-cli list names the simulated receiver, from the installed catalogue" bash -c '
        output=$(BONDARA_SIMULATE="$1" bondara-cli -v list 2>/tmp/list.err) || { echo "$output"; cat /tmp/list.err; exit 1; }
        grep -q "^match: 2.4G Receiver (vid 1209, pid 0001" <<<"$output" || { echo "$output"; exit 1; }
        grep -q "load file:  \"/usr/lib/bondara/Config/DeviceConfig.json\"" /tmp/list.err || { cat /tmp/list.err; exit 1; }' \
        _ "$scene"
    check "bondara-cli list finds nothing, status 1, where there is no receiver" bash -c '
        BONDARA_SIMULATE="$1" bondara-cli list; [ $? -eq 1 ]' _ /src/tests/scenes/no-receiver.json
    check "bondara-cli doctor: no problem with the receiver, status 0" bash -c '
        BONDARA_SIMULATE="$1" bondara-cli doctor' _ "$scene"
    check "bondara-cli doctor: a receiver that cannot be opened is a problem, status 1" bash -c '
        output=$(BONDARA_SIMULATE="$1" bondara-cli doctor); [ $? -eq 1 ] || { echo "$output"; exit 1; }' \
        _ /src/tests/scenes/locked-receiver.json
    check "an unprivileged user pairs a keyboard with the simulated receiver" bash -c '
        source /src/tools/testlib.sh
        install -m 666 /dev/null /tmp/trace.txt
        output=$(runuser -u nobody -- env BONDARA_SIMULATE="$1" BONDARA_SIMULATE_TRACE=/tmp/trace.txt \
            timeout 60 bondara-cli pair keyboard) || { echo "$output"; exit 1; }
        frames=$(trace_frames /tmp/trace.txt)
        [[ $frames =~ ^begin-keyboard,poll\*[0-9]+,end$ ]] || { echo "$output"; echo "frames: $frames"; exit 1; }' \
        _ "$scene"
    check "apt-get purge: the programs, the service files and /etc/bondara go" bash -c '
        apt-get purge -y bondara >/dev/null 2>&1 || exit 1
        for path in /usr/lib/bondara /usr/bin/bondara-cli /etc/bondara "$1" /usr/share/dbus-1/system.d/org.bondara.Pairing1.conf; do
            if [ -e "$path" ] || [ -L "$path" ]; then echo "$path is left"; exit 1; fi
        done' _ "$unit"
}
elapsed use install_and_use
echo "times: the package with the suites $(took package) s, install and use $(took use) s"
[ "$failed" -eq 0 ]
