#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Proves privatebus.sh before the pairing service relies on it: polkit loads
# the pairing action (English and Chinese) and the test rules, pkcheck
# authorises the test user and not another, a stand-in service is started by
# the bus without systemd and asks polkit about its callers, and the machine
# is left as it was. Run as root. Usage: run-harness-check.sh OUT_DIR
# (it runs itself again inside the harness, with --inside OUT_DIR).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
data=$here/data
source "$here/../../tools/testlib.sh"

ok_user=bondara-ok
other_user=bondara-other

# as USER COMMAND...: runs the command as that user, with no groups of root's.
as() {
    local user=$1
    shift
    setpriv --reuid "$user" --regid "$user" --clear-groups -- "$@"
}
bus_call() { # bus_call METHOD [ARGS...]
    local method=$1
    shift
    dbus-send --system --print-reply=literal --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        "org.freedesktop.DBus.$method" "$@"
}
# pkcheck_as USER: pkcheck's status for org.bondara.pair asked about a
# process of that user, named by pid, start time and uid; its messages go to
# $out/pkcheck-USER.log.
pkcheck_as() {
    local user=$1 uid pid code
    uid=$(id -u "$user")
    # Not through as(): a function in the background is a shell of its own,
    # and its pid would name a root process.
    setpriv --reuid "$user" --regid "$user" --clear-groups -- sleep 60 &
    pid=$!
    # Root until setpriv has switched.
    local deadline=$((SECONDS + 5))
    until [ "$(awk '/^Uid:/ { print $2 $3 }' "/proc/$pid/status")" = "$uid$uid" ]; do
        [ $SECONDS -lt $deadline ] || { echo "$user's process never became $user's" >"$out/pkcheck-$user.log"; return 99; }
        sleep 0.01
    done
    pkcheck --action-id org.bondara.pair --process "$pid,$(awk '{print $22}' "/proc/$pid/stat"),$uid" \
        >"$out/pkcheck-$user.log" 2>&1
    code=$?
    kill "$pid"
    wait "$pid" 2>/dev/null
    return $code
}
# call_as USER: the stand-in's Authorize() called as that user; the reply or
# error goes to $out/call-USER.log.
call_as() {
    as "$1" dbus-send --system --print-reply --reply-timeout=20000 --dest=org.bondara.Pairing1 \
        /org/bondara/Pairing1 org.bondara.Pairing1.Authorize >"$out/call-$1.log" 2>&1
}

if [ "${1:-}" = --inside ]; then
    out=$2
    echo "private system bus and polkit up in $PRIVATEBUS_UP_SECONDS s"
    services=$(ls /usr/share/dbus-1/system-services | tr '\n' ' ')
    if [ "$services" = "org.bondara.Pairing1.service org.freedesktop.PolicyKit1.service " ]; then
        pass "the bus sees the test's activation files and polkit's, not the machine's"
    else
        fail "activation files seen by the bus: $services"
    fi

    LANG=C pkaction --action-id org.bondara.pair --verbose >"$out/pkaction.log" 2>&1
    if grep -q '^  description: *Pair a wireless mouse or keyboard with its receiver$' "$out/pkaction.log" &&
        grep -q '^  implicit any: *auth_admin$' "$out/pkaction.log" &&
        grep -q '^  implicit active: *yes$' "$out/pkaction.log"; then
        pass "polkit has the pairing action: English text, yes when active, auth_admin otherwise"
    else
        fail "polkit's view of org.bondara.pair: $(cat "$out/pkaction.log")"
    fi
    # pkaction asks in no language, so the Chinese texts are asked for directly.
    gdbus call --system --dest org.freedesktop.PolicyKit1 --object-path /org/freedesktop/PolicyKit1/Authority \
        --method org.freedesktop.PolicyKit1.Authority.EnumerateActions zh_CN.UTF-8 >"$out/actions-zh.log" 2>&1
    if grep -q "'让无线鼠标或键盘与接收器对码', '需要认证才能让无线设备与接收器对码'" "$out/actions-zh.log"; then
        pass "polkit gives the pairing action's Chinese description and message for zh_CN.UTF-8"
    else
        fail "the pairing action in zh_CN.UTF-8: $(cat "$out/actions-zh.log")"
    fi

    if pkcheck_as "$ok_user"; then
        pass "pkcheck: $ok_user may pair, by the test rules, without a session"
    else
        fail "pkcheck for $ok_user: status $?, $(cat "$out/pkcheck-$ok_user.log")"
    fi
    # Without a session the action's auth_admin applies, and with no agent
    # polkit can only say that authentication would be needed.
    pkcheck_as "$other_user"
    code=$?
    if [ $code -eq 2 ] && grep -q 'requires authentication' "$out/pkcheck-$other_user.log"; then
        pass "pkcheck: $other_user is not authorised (administrator authentication required)"
    else
        fail "pkcheck for $other_user: status $code, $(cat "$out/pkcheck-$other_user.log")"
    fi

    marker=$out/standin.marker
    if [ "$(bus_call NameHasOwner string:org.bondara.Pairing1 2>&1)" = "   boolean false" ] && [ ! -e "$marker" ]; then
        pass "the stand-in service is not running before its first call"
    else
        fail "the stand-in service was running before its first call"
    fi
    if call_as "$ok_user"; then
        pass "$ok_user's call to the stand-in service is answered"
    else
        fail "$ok_user's call to the stand-in service: $(cat "$out/call-$ok_user.log")"
    fi
    if wait_log "$marker" '^[0-9]* 0$' 10 &&
        grep -q "Successfully activated service 'org.bondara.Pairing1'" "$PRIVATEBUS_LOGS/dbus-daemon.log" &&
        grep -q "Activating service name='org.bondara.Pairing1'.*(using servicehelper)" \
            "$PRIVATEBUS_LOGS/dbus-daemon.log"; then
        pass "the bus started the stand-in through its setuid helper, as root, without systemd"
    else
        fail "activation of the stand-in: marker '$(cat "$marker" 2>/dev/null)'; $(grep Pairing1 "$PRIVATEBUS_LOGS/dbus-daemon.log")"
    fi
    if ! call_as "$other_user" && grep -q 'AccessDenied: Not authorized' "$out/call-$other_user.log"; then
        pass "the stand-in refuses $other_user on polkit's word"
    else
        fail "$other_user's call to the stand-in: $(cat "$out/call-$other_user.log")"
    fi
    owner=$(bus_call GetConnectionUnixProcessID string:org.bondara.Pairing1 2>&1 | awk '{print $2}')
    if [ "$(wc -l <"$marker")" -eq 1 ] && [ "$(cut -d' ' -f1 "$marker")" = "$owner" ]; then
        pass "one stand-in served both calls"
    else
        fail "stand-in starts: $(tr '\n' ';' <"$marker"), owner now $owner"
    fi
    exit 0
fi

[ $# -eq 1 ] || { echo "usage: $0 OUT_DIR" >&2; exit 2; }
out=$(realpath -m "$1")
mkdir -p "$out"
rm -f "$out"/*.log "$out"/*.marker "$out"/*.service

# What the run must leave as it found it.
machine_state() {
    getent passwd "$ok_user" "$other_user"
    ls -la /run/dbus /etc/dbus-1 /usr/share/dbus-1/system.d /usr/share/dbus-1/system-services \
        /etc/polkit-1 /usr/share/polkit-1/actions /usr/share/polkit-1/rules.d
    md5sum /etc/passwd /etc/group /etc/shadow /etc/gshadow
}
machine_state >"$out/machine-before.txt" 2>&1

# Without CAP_SYS_ADMIN no namespace can be made: the harness must say so.
setpriv --bounding-set -sys_admin --inh-caps -sys_admin -- "$here/privatebus.sh" -- true \
    >"$out/refused.log" 2>&1
code=$?
if [ $code -eq 125 ] && grep -q 'cannot make a mount and PID namespace' "$out/refused.log"; then
    pass "without the right to make namespaces the harness fails and says why"
else
    fail "without CAP_SYS_ADMIN the harness gave status $code: $(cat "$out/refused.log")"
fi

# The launch helper clears the environment: the Exec line names everything.
sed "s|@EXEC@|/usr/bin/python3 $data/standin-service.py $out/standin.marker|" \
    "$data/org.bondara.Pairing1.service.in" >"$out/org.bondara.Pairing1.service"
"$here/privatebus.sh" --action "$data/org.bondara.pair.policy" --rules "$data/50-bondara-test.rules" \
    --policy "$data/org.bondara.Pairing1.conf" --service "$out/org.bondara.Pairing1.service" \
    --user "$ok_user" --user "$other_user" --logs "$out" \
    -- "$here/$(basename "$0")" --inside "$out" | tee "$out/inside.log"
code=${PIPESTATUS[0]}
passed=$((passed + $(grep -c '^PASS:' "$out/inside.log")))
failed=$((failed + $(grep -c '^FAIL:' "$out/inside.log")))
if [ "$code" -eq 125 ]; then
    fail "the private system bus and polkit could not be set up (see above and $out)"
elif [ "$code" -ne 0 ]; then
    fail "the checks inside the private bus ended with status $code"
fi

machine_state >"$out/machine-after.txt" 2>&1
if diff -u "$out/machine-before.txt" "$out/machine-after.txt" >"$out/machine.diff"; then
    pass "the machine's bus and polkit directories and user database are as they were"
else
    fail "the run changed the machine: $(cat "$out/machine.diff")"
fi
summary
