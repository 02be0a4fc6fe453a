# SPDX-License-Identifier: MIT
# Sourced by the test stages: one PASS or FAIL line per check, and the count at the end.

passed=0
failed=0
# With numbered set, each line carries its check's number.
pass() { passed=$((passed + 1)); echo "PASS: ${numbered:+$((passed + failed)). }$*"; }
fail() { failed=$((failed + 1)); echo "FAIL: ${numbered:+$((passed + failed)). }$*"; }
# check NAME COMMAND...: passes when the command succeeds; its output is shown when it fails.
check() {
    local name=$1 output
    shift
    if output=$("$@" 2>&1); then
        pass "$name"
    else
        fail "$name"
        printf '%s\n' "$output" | sed 's/^/    /' | tail -n 40
    fi
}
# summary: the counts; true only when nothing failed, so that it can end a script.
summary() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
# wait_log LOG PATTERN SECONDS: true once the log has a line matching PATTERN.
wait_log() {
    local deadline=$((SECONDS + $3))
    while [ $SECONDS -lt $deadline ]; do
        grep -q -- "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}
# root_unchanged ROOT: true when nothing in a cached root (tools/rootcache.sh) is newer than its
# completion mark; names what is otherwise.
root_unchanged() {
    local changed
    changed=$(find "$1" -xdev -mindepth 1 \( -newer "$1/.bondara-complete" -o -cnewer "$1/.bondara-complete" \) -print | head)
    [ -z "$changed" ] || { echo "$changed"; return 1; }
}
# in_own_bus_session "$0" "$@": runs the calling script again inside a D-Bus
# session of its own, with a runtime directory of its own made before it, so
# that the accessibility bus's socket is apart from another run's; returns
# when already inside, otherwise exits with the inner run's status.
in_own_bus_session() {
    [ -n "${BONDARA_OWN_BUS:-}" ] && return 0
    local dir code
    dir=$(mktemp -d)
    chmod 700 "$dir"
    BONDARA_OWN_BUS=1 XDG_RUNTIME_DIR=$dir dbus-run-session -- "$@"
    code=$?
    rm -rf "$dir"
    exit $code
}
# trace_frames TRACE [INTERFACE]: the reports of a simulated trace (a line each: the interface,
# a tab, the bytes in hex) by name, with runs counted: "begin-keyboard,poll*5,end"; with
# INTERFACE, only those it was sent. A report that is not exactly one of the 32-byte pairing
# commands shows as other[bytes].
trace_frames() {
    awk -F '\t' -v only="${2:-}" '
    function zeros(n,   s, i) { s = ""; for (i = 0; i < n; i++) s = s " 00"; return s }
    function flush() { if (last != "") { out = out sep last (count > 1 ? "*" count : ""); sep = "," } }
    BEGIN {
        name["ba a0 81 02 01" zeros(27)] = "begin-keyboard"
        name["ba a0 81 01 01" zeros(27)] = "begin-mouse"
        name["ba a1 01" zeros(29)] = "poll"
        name["ba a1 84" zeros(29)] = "end"
    }
    only != "" && $1 != only { next }
    {
        frame = ($2 in name) ? name[$2] : "other[" $0 "]"
        if (frame == last) { count++ } else { flush(); last = frame; count = 1 }
    }
    END { flush(); print out }' "$1"
}
