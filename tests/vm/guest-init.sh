#!/bin/busybox sh
# SPDX-License-Identifier: MIT
# The guest's /init: loads the HID modules, plays a receiver through uhid and
# runs bondara-cli against the kernel's hidraw, sysfs and uevents. There is no
# udev daemon, so the watcher has only the kernel's own events.
# Results go to the console as "VMTEST: check N pass|fail - WHAT"; the host
# reads them from there. The last line is "VMTEST: end", then the power goes off.

/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin:/opt/bondara
export HOME=/tmp LC_ALL=C.UTF-8
mount -t devtmpfs dev /dev
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t tmpfs tmp /tmp
mount -t tmpfs run /run
chmod 1777 /tmp

CLI=/opt/bondara/bondara-cli
EMULATOR=/opt/bondara/uhid-receiver
VID=1209
PID=5a01
UNKNOWN_PID=5aff
HIDNAME="Bondara VM Receiver"
CATALOGUE_NAME="VM Receiver"

say() { echo "VMTEST: $*"; }
now_ms() { awk '{ printf "%d", $1 * 1000 }' /proc/uptime; }
show() { sed 's/^/    | /' "$@"; }

finish() {
    say end
    sync
    poweroff -f
    sleep 5
}

say start
for module in $(cat /lib/modules/load-order); do
    if ! insmod "/lib/modules/$module.ko"; then
        say "fatal: insmod $module failed"
        finish
    fi
done
if [ ! -c /dev/uhid ]; then
    say "fatal: no /dev/uhid after loading the modules"
    finish
fi
if [ -e /run/udev/control ]; then
    say "fatal: a udev daemon seems to run; the kernel-source watcher would not be tested"
    finish
fi

# --- helpers -----------------------------------------------------------------

BAD=0
problem() {
    echo "  problem: $*"
    BAD=1
}
# "bondara.verbose" on the kernel's command line shows the details of passing checks too.
details() {
    [ "$BAD" -ne 0 ] || grep -qw bondara.verbose /proc/cmdline
}
verdict() {
    echo "  at $(($(now_ms) / 1000)) s of the machine's time"
    if [ "$BAD" -eq 0 ]; then
        say "check $1 pass - $2"
    else
        say "check $1 fail - $2"
    fi
    BAD=0
}

# The hidraw node of the receiver with product id PID, once its device file
# exists; waits up to 10 s.
wait_present() {
    i=0
    while [ $i -lt 200 ]; do
        for node in $(ls /sys/class/hidraw 2>/dev/null); do
            if [ -c "/dev/$node" ] && grep -qix "HID_ID=0003:0000$VID:0000$1" "/sys/class/hidraw/$node/device/uevent"; then
                echo "$node"
                return 0
            fi
        done
        usleep 50000
        i=$((i + 1))
    done
    return 1
}
wait_absent() {
    i=0
    while [ $i -lt 200 ]; do
        [ -z "$(ls /sys/class/hidraw 2>/dev/null)" ] && return 0
        usleep 50000
        i=$((i + 1))
    done
    return 1
}

# start_receiver LOG PID [EMULATOR OPTIONS]: sets RECEIVER (process) and NODE.
start_receiver() {
    log=$1
    pid=$2
    shift 2
    : >"$log"
    "$EMULATOR" --vid "$VID" --pid "$pid" --name "$HIDNAME" --log "$log" "$@" 2>>"$log" &
    RECEIVER=$!
    if ! NODE=$(wait_present "$pid"); then
        problem "no hidraw node appeared for the emulated receiver"
        kill "$RECEIVER" 2>/dev/null
        wait "$RECEIVER" 2>/dev/null
        show "$log"
        NODE=none
        return 1
    fi
    return 0
}
stop_receiver() {
    kill "$RECEIVER" 2>/dev/null
    wait "$RECEIVER" 2>/dev/null
    wait_absent || problem "the hidraw node stayed after the emulator ended"
}

. /receiver-log.sh

# The interfaces of "list --json" as "path vid:pid page:usage in out feature version name",
# then "match PID NAME" (or "match none").
interfaces() {
    awk '
    function value(line) {
        sub(/^[^:]*: /, "", line); sub(/,$/, "", line); gsub(/"/, "", line); return line
    }
    /^    "interfaces": \[/ { section = "interfaces"; next }
    /^    "match": null/ { print "match none"; next }
    /^    "match": \{/ { section = "match"; next }
    section == "interfaces" && /^            "[A-Za-z]+": / {
        key = $1; gsub(/[":]/, "", key); field[key] = value($0)
    }
    section == "interfaces" && /^        \},?$/ {
        print field["path"], field["vendorId"] ":" field["productId"], field["usagePage"] ":" field["usage"],
              field["inputReportLength"], field["outputReportLength"], field["featureReportLength"],
              field["version"], field["name"]
        delete field
    }
    section == "match" && /^        "[A-Za-z]+": / { key = $1; gsub(/[":]/, "", key); field[key] = value($0) }
    section == "match" && /^    \},?$/ { print "match", field["pid"], field["name"]; section = "" }
    ' "$1"
}

# --- 1. list ------------------------------------------------------------------

echo "--- check 1: list finds the receiver on its vendor collection"
if start_receiver /tmp/list.log "$PID"; then
    "$CLI" list --json >/tmp/list.json 2>/tmp/list.err
    rc=$?
    [ $rc -eq 0 ] || problem "list --json exited $rc, expected 0"
    interfaces /tmp/list.json >/tmp/list.got
    # Windows' lengths: the longest report of the collection plus the ID byte. No USB
    # parent (uhid), so no bcdDevice: version 0; the name is the HID name.
    cat >/tmp/list.want <<EOF
/dev/$NODE#col01 $VID:$PID 0001:0006 9 2 0 0 $HIDNAME
/dev/$NODE#col02 $VID:$PID 0001:0002 5 0 0 0 $HIDNAME
/dev/$NODE#col03 $VID:$PID ff00:0001 17 32 0 0 $HIDNAME
match $PID $CATALOGUE_NAME
EOF
    if ! diff /tmp/list.want /tmp/list.got >/tmp/list.diff; then
        problem "list --json differs from the emulated receiver (- expected, + listed):"
        show /tmp/list.diff
    fi
    details && show /tmp/list.json /tmp/list.err
    stop_receiver
fi
if start_receiver /tmp/unknown.log "$UNKNOWN_PID"; then
    "$CLI" list >/tmp/unknown.out 2>/tmp/unknown.err
    rc=$?
    [ $rc -eq 1 ] || problem "list with an unknown product id exited $rc, expected 1"
    grep -qx "not found device" /tmp/unknown.out || problem "list with an unknown product id did not say \"not found device\""
    grep -q "^/dev/$NODE#col03  $VID:$UNKNOWN_PID " /tmp/unknown.out ||
        problem "list did not show the unknown receiver's vendor collection"
    details && show /tmp/unknown.out /tmp/unknown.err
    stop_receiver
fi
verdict 1 "list --json: vendor collection 3 of 3 with input 17, output 32; unknown product: not found device"

# --- 2. pair ------------------------------------------------------------------

echo "--- check 2: pair in real time"
# A keyboard, paired at the fifth poll.
if start_receiver /tmp/pair.log "$PID" --pair-after 4; then
    start=$(now_ms)
    "$CLI" pair keyboard >/tmp/pair.out 2>/tmp/pair.err
    rc=$?
    took=$(($(now_ms) - start))
    stop_receiver
    [ $rc -eq 0 ] || problem "pair keyboard exited $rc, expected 0"
    grep -qx "Matched successfully" /tmp/pair.out || problem "pair keyboard did not print \"Matched successfully\""
    got=$(frames /tmp/pair.log)
    [ "$got" = "begin-keyboard,poll*5,end" ] || problem "frames $got, expected begin-keyboard,poll*5,end"
    check_gaps /tmp/pair.log 5
    fetches_match /tmp/pair.log || problem "not one fetch of report 0xBA per command"
    echo "  paired in $took ms"
    details && show /tmp/pair.out /tmp/pair.err /tmp/pair.log
fi
# A mouse, with the receiver's other success status (01 02) at the first poll.
if start_receiver /tmp/mouse.log "$PID" --pair-after 0 --pair-status 2; then
    "$CLI" pair mouse >/tmp/mouse.out 2>/tmp/mouse.err
    rc=$?
    stop_receiver
    [ $rc -eq 0 ] || problem "pair mouse exited $rc, expected 0"
    got=$(frames /tmp/mouse.log)
    [ "$got" = "begin-mouse,poll,end" ] || problem "frames $got, expected begin-mouse,poll,end"
    details && show /tmp/mouse.out /tmp/mouse.err /tmp/mouse.log
fi
# A receiver that never pairs: the whole poll, then the end command, then failure.
if start_receiver /tmp/never.log "$PID" --pair-after never; then
    start=$(now_ms)
    "$CLI" pair keyboard >/tmp/never.out 2>/tmp/never.err
    rc=$?
    took=$(($(now_ms) - start))
    stop_receiver
    [ $rc -eq 1 ] || problem "pair keyboard with a receiver that never pairs exited $rc, expected 1"
    grep -qx "Matched failed: no device answered in time" /tmp/never.out ||
        problem "no \"Matched failed: no device answered in time\" after the full poll"
    got=$(frames /tmp/never.log)
    [ "$got" = "begin-keyboard,poll*85,end" ] || problem "frames $got, expected begin-keyboard,poll*85,end"
    check_gaps /tmp/never.log 85
    fetches_match /tmp/never.log || problem "not one fetch of report 0xBA per command"
    [ "$took" -ge 29750 ] || problem "the full poll took $took ms, less than 85 x 350 ms"
    echo "  gave up after $took ms"
    details && { show /tmp/never.out /tmp/never.err; tail -n 20 /tmp/never.log | show; }
fi
verdict 2 "pair: BA A0 81 02 01, BA A1 01 every 350 ms, BA A1 84; exit 0 when paired, 1 after 85 polls"

# --- 3. watch -----------------------------------------------------------------

echo "--- check 3: watch sees each collection come and go"
: >/tmp/watch.want
expect_events() { # ACTION VERDICT
    for collection in 01 02 03; do
        echo "$1 /dev/$NODE#col$collection" >>/tmp/watch.want
        echo "$2" >>/tmp/watch.want
    done
}
unplug() {
    kill -USR1 "$RECEIVER"
    if wait_absent; then
        expect_events removal "  not found device"
    else
        problem "the node stayed after the unplug"
    fi
    sleep 1
}
plug() {
    kill -USR2 "$RECEIVER"
    if NODE=$(wait_present "$PID"); then
        expect_events arrival "  receiver: $CATALOGUE_NAME (vid $VID, pid $PID) at /dev/$NODE#col03"
    else
        problem "no node after plugging the receiver in again"
    fi
    sleep 1
}
# Plugged in before the watch starts: its removal must still name every collection.
if start_receiver /tmp/watch.log "$PID"; then
    "$CLI" watch --for 10 >/tmp/watch.out 2>/tmp/watch.err &
    watcher=$!
    i=0
    while ! grep -q "^watching" /tmp/watch.out && [ $i -lt 100 ]; do
        usleep 50000
        i=$((i + 1))
    done
    sleep 1
    unplug
    plug
    unplug
    plug
    stop_receiver
    expect_events removal "  not found device"
    wait "$watcher"
    rc=$?
    [ $rc -eq 0 ] || problem "watch exited $rc, expected 0"
    # Without the clock: "arrival /dev/hidraw0#col01".
    sed -n '2,$p' /tmp/watch.out | sed -E 's/^[0-9:.]+ (arrival|removal) /\1 /' >/tmp/watch.got
    if ! diff /tmp/watch.want /tmp/watch.got >/tmp/watch.diff; then
        problem "watch's events differ (- expected, + seen):"
        show /tmp/watch.diff
    fi
    details && show /tmp/watch.out /tmp/watch.err /tmp/watch.log
fi
verdict 3 "watch: one arrival or removal per collection at each plug and unplug, each with the catalogue's verdict"

# --- 4. unplugged while pairing -------------------------------------------------

echo "--- check 4: the receiver goes away in the middle of the poll"
if start_receiver /tmp/unplug.log "$PID" --pair-after never --unplug-at-poll 3; then
    start=$(now_ms)
    timeout 90 "$CLI" -v pair keyboard >/tmp/unplug.out 2>/tmp/unplug.err
    rc=$?
    took=$(($(now_ms) - start))
    stop_receiver
    [ $rc -eq 3 ] || problem "pair exited $rc, expected 3, the receiver failed (timeout says 143)"
    grep -qx "Matched failed: the receiver was unplugged" /tmp/unplug.out ||
        problem "no \"Matched failed: the receiver was unplugged\""
    got=$(frames /tmp/unplug.log)
    [ "$got" = "begin-keyboard,poll*3,unplugged" ] ||
        problem "frames $got, expected begin-keyboard,poll*3,unplugged"
    echo "  ended after $took ms"
    details && { show /tmp/unplug.out; tail -n 20 /tmp/unplug.err | show; show /tmp/unplug.log; }
fi
verdict 4 "pair with the receiver unplugged mid-poll: Matched failed, the receiver was unplugged, exit 3, no hang"

# --- 5. unprivileged ------------------------------------------------------------

echo "--- check 5: an unprivileged user, the node's permissions withheld"
# as USER COMMAND: with no terminal, so that no password can be asked for.
as() {
    user=$1
    shift
    su -s /bin/sh -c "$*" "$user" </dev/null
}
as_tester() { as tester "$@"; }
# As the kernel makes it without udev; a rule would have widened it.
withhold_node() {
    chown 0:0 "/dev/$NODE"
    chmod 0600 "/dev/$NODE"
}
if start_receiver /tmp/user.log "$PID" --pair-after 0; then
    withhold_node
    uid=$(as_tester "id -u")
    [ "$uid" = 1000 ] || problem "could not run as the unprivileged user (uid \"$uid\")"
    as_tester "$CLI list --json" >/tmp/user-list.json 2>/tmp/user-list.err
    rc=$?
    [ $rc -eq 0 ] || problem "list --json as uid 1000 exited $rc, expected 0"
    interfaces /tmp/user-list.json >/tmp/user-list.got
    grep -qx "match $PID $CATALOGUE_NAME" /tmp/user-list.got || problem "list as uid 1000 did not find the receiver"
    as_tester "$CLI -v pair keyboard" >/tmp/user-pair.out 2>/tmp/user-pair.err
    rc=$?
    [ $rc -eq 2 ] || problem "pair as uid 1000 exited $rc, expected 2"
    # No system bus yet: nothing to turn to.
    grep -q "^bondara-cli: cannot open the receiver $CATALOGUE_NAME: Permission denied; and the system bus is not running" \
        /tmp/user-pair.err ||
        problem "pair as uid 1000 did not say it cannot open the receiver $CATALOGUE_NAME (Permission denied) and has no system bus"
    # The doctor names the problem and its fix, and sends nothing either.
    as_tester "$CLI doctor" >/tmp/user-doctor.out 2>/tmp/user-doctor.err
    rc=$?
    [ $rc -eq 1 ] || problem "doctor as uid 1000 exited $rc, expected 1"
    grep -q "^problem access .*cannot open /dev/$NODE#col03: Permission denied -- fix: start the system bus" \
        /tmp/user-doctor.out || problem "doctor as uid 1000 did not name the access problem and its fix"
    grep -q "^problem acl .*does not name this user -- fix: " /tmp/user-doctor.out ||
        problem "doctor as uid 1000 did not say that the node's ACL leaves the user out"
    [ -z "$(frames /tmp/user.log)" ] || problem "a report reached the receiver without permission"
    stop_receiver
    details && show /tmp/user-list.json /tmp/user-list.err /tmp/user-pair.out /tmp/user-pair.err /tmp/user-doctor.out
fi
verdict 5 "unprivileged: list finds the receiver through sysfs, pair fails with Permission denied and no bus, doctor names the fix"

# --- 6. record ------------------------------------------------------------------

echo "--- check 6: a pairing recorded for replay"
if start_receiver /tmp/rec.log "$PID" --pair-after 2; then
    "$CLI" record /tmp/session.json pair keyboard >/tmp/rec.out 2>/tmp/rec.err
    rc=$?
    stop_receiver
    [ $rc -eq 0 ] || problem "record pair keyboard exited $rc, expected 0"
    got=$(frames /tmp/rec.log)
    [ "$got" = "begin-keyboard,poll*3,end" ] || problem "frames $got, expected begin-keyboard,poll*3,end"
    grep -q "$HIDNAME" /tmp/session.json && problem "the recording holds the product string"
    grep -q '"replay"' /tmp/session.json || problem "the recording holds no exchange"
    # The host replays the file and compares: the result, the frames, then the file itself.
    say "record-result $(tail -n 1 /tmp/rec.out)"
    say "record-frames $got"
    while IFS= read -r line; do say "record-file $line"; done </tmp/session.json
    details && show /tmp/rec.out /tmp/rec.err /tmp/session.json
fi
verdict 6 "record: a pairing on the kernel's stack written as a scene"

# --- 7. two receivers ----------------------------------------------------------

echo "--- check 7: two receivers at once, told apart by their paths"
OTHER_PID=5a02
OTHER_NAME="VM Receiver Tovrik"
# Both pair keyboards; only the first pairs mice. Each answers yes after its own number of polls.
if start_receiver /tmp/first.log "$PID" --pair-after 0; then
    FIRST=$RECEIVER
    FIRST_NODE=$NODE
    if start_receiver /tmp/second.log "$OTHER_PID" --pair-after 1; then
        SECOND=$RECEIVER
        SECOND_NODE=$NODE
        "$CLI" list >/tmp/two-list.out 2>/tmp/two-list.err
        rc=$?
        [ $rc -eq 0 ] || problem "list with two receivers exited $rc, expected 0"
        grep '^match: ' /tmp/two-list.out | sort >/tmp/two-list.got
        sort >/tmp/two-list.want <<EOF
match: $CATALOGUE_NAME (vid $VID, pid $PID, usage ff00:0001) at /dev/$FIRST_NODE#col03
match: $OTHER_NAME (vid $VID, pid $OTHER_PID, usage ff00:0001) at /dev/$SECOND_NODE#col03
EOF
        if ! diff /tmp/two-list.want /tmp/two-list.got >/tmp/two-list.diff; then
            problem "list's match lines differ (- expected, + listed):"
            show /tmp/two-list.diff
        fi
        # Both can pair a keyboard: without a choice, pair names them and sends nothing.
        "$CLI" pair keyboard >/tmp/two-ask.out 2>/tmp/two-ask.err
        rc=$?
        [ $rc -eq 2 ] || problem "pair keyboard with two receivers that pair keyboards exited $rc, expected 2"
        { grep -qx "  $CATALOGUE_NAME  /dev/$FIRST_NODE#col03" /tmp/two-ask.err &&
            grep -qx "  $OTHER_NAME  /dev/$SECOND_NODE#col03" /tmp/two-ask.err; } ||
            problem "pair keyboard with two receivers did not name both with their paths"
        # The one named with --receiver pairs the keyboard.
        "$CLI" pair keyboard --receiver "/dev/$SECOND_NODE#col03" >/tmp/two-chosen.out 2>/tmp/two-chosen.err
        rc=$?
        [ $rc -eq 0 ] || problem "pair keyboard --receiver /dev/$SECOND_NODE#col03 exited $rc, expected 0"
        # Only the first pairs mice: pair mouse goes there unasked.
        "$CLI" pair mouse >/tmp/two-mouse.out 2>/tmp/two-mouse.err
        rc=$?
        [ $rc -eq 0 ] || problem "pair mouse with one receiver that pairs mice exited $rc, expected 0"
        kill "$SECOND" 2>/dev/null
        wait "$SECOND" 2>/dev/null
        got=$(frames /tmp/second.log)
        [ "$got" = "begin-keyboard,poll*2,end" ] ||
            problem "the receiver named got $got, expected begin-keyboard,poll*2,end"
        details && show /tmp/two-list.out /tmp/two-ask.err /tmp/two-chosen.out /tmp/two-mouse.out /tmp/second.log
    fi
    RECEIVER=$FIRST
    stop_receiver
    got=$(frames /tmp/first.log)
    [ "$got" = "begin-mouse,poll,end" ] || problem "the receiver that pairs mice got $got, expected begin-mouse,poll,end"
    details && show /tmp/first.log
fi
verdict 7 "two receivers: list names both, pair asks which when both can, and pairs the one named or the only one that can"

# --- 8. Ctrl+C ------------------------------------------------------------------

echo "--- check 8: Ctrl+C in the middle of the poll"
if start_receiver /tmp/sigint.log "$PID" --pair-after never; then
    "$CLI" pair keyboard >/tmp/sigint.out 2>/tmp/sigint.err &
    cli=$!
    # Pressed once the receiver has had a poll.
    i=0
    while ! grep -q " poll 1: not yet$" /tmp/sigint.log && [ $i -lt 200 ]; do
        usleep 50000
        i=$((i + 1))
    done
    kill -INT "$cli"
    wait "$cli"
    rc=$?
    stop_receiver
    [ $rc -eq 130 ] || problem "pair keyboard stopped by SIGINT exited $rc, expected 130"
    grep -qx "Pairing stopped" /tmp/sigint.out ||
        problem "no \"Pairing stopped\""
    got=$(frames /tmp/sigint.log)
    echo "$got" | grep -Eqx 'begin-keyboard,poll(\*[0-9]+)?,end' ||
        problem "frames $got, expected begin-keyboard, a poll or more, then the end command last"
    details && show /tmp/sigint.out /tmp/sigint.err /tmp/sigint.log
fi
verdict 8 "Ctrl+C during pair: the end command is the last report the receiver gets, exit 130"

# The system bus and polkit, started for the checks that follow.
. /guest-bus.sh

# --- 9. through the pairing service -------------------------------------------------

echo "--- check 9: a user who cannot open the node pairs through the pairing service"
began=$(now_ms)
if start_bus; then
    echo "  system bus and polkit up in $(($(now_ms) - began)) ms"
else
    problem "$BUS_PROBLEM"
    show "$BUS_LOG"
fi
if [ -z "$BUS_PROBLEM" ] && start_receiver /tmp/service.log "$PID" --pair-after 4; then
    withhold_node
    as bondara-ok "$CLI pair mouse" >/tmp/service.out 2>/tmp/service.err
    rc=$?
    stop_receiver
    [ $rc -eq 0 ] || problem "pair mouse as bondara-ok exited $rc, expected 0"
    grep -qx "This user cannot open it: the pairing service pairs it, if polkit allows." /tmp/service.out ||
        problem "pair mouse as bondara-ok did not find the node closed to it and turn to the service"
    grep -qx "Matched successfully" /tmp/service.out || problem "pair mouse as bondara-ok did not print \"Matched successfully\""
    got=$(frames /tmp/service.log)
    [ "$got" = "begin-mouse,poll*5,end" ] || problem "frames $got, expected begin-mouse,poll*5,end"
    check_gaps /tmp/service.log 5
    fetches_match /tmp/service.log || problem "not one fetch of report 0xBA per command"
    { grep -q "Activating service name='org.bondara.Pairing1'.*(using servicehelper)" "$BUS_LOG" &&
        grep -q "Successfully activated service 'org.bondara.Pairing1'" "$BUS_LOG"; } ||
        problem "the bus did not start the service through its launch helper"
    details && show /tmp/service.out /tmp/service.err /tmp/service.log "$BUS_LOG"
fi
verdict 9 "pairing service: bondara-ok cannot open the node, the bus starts the service, which pairs: begin, polls every 350 ms, end"

# --- 10. not authorised -------------------------------------------------------------

echo "--- check 10: a user polkit does not authorise is refused"
if [ -n "$BUS_PROBLEM" ]; then
    problem "no system bus and polkit: $BUS_PROBLEM"
elif start_receiver /tmp/refused.log "$PID" --pair-after 0; then
    withhold_node
    seen=$(wc -l </tmp/refused.log)
    as_tester "$CLI pair mouse" >/tmp/refused.out 2>/tmp/refused.err
    rc=$?
    after=$(wc -l </tmp/refused.log)
    stop_receiver
    [ $rc -eq 2 ] || problem "pair mouse as tester exited $rc, expected 2"
    grep -qx "Matched failed: pairing was not authorised for this user" /tmp/refused.out ||
        problem "pair mouse as tester did not print \"Matched failed: pairing was not authorised for this user\""
    # polkit's own no, not a polkit that could not be asked.
    grep -q "refused .*: authentication is required and none was given" "$BUS_LOG" ||
        problem "the service did not log polkit's refusal"
    [ "$after" -eq "$seen" ] || problem "the receiver saw $((after - seen)) events from a refused request"
    details && show /tmp/refused.out /tmp/refused.err /tmp/refused.log "$BUS_LOG"
fi
verdict 10 "pairing service: tester, whom polkit does not authorise, is refused (exit 2) and the receiver sees nothing"


# --- 11, 12. one pairing per receiver, whoever runs it ---------------------------------

BUSY_WORDS="Matched failed: another program is pairing with the receiver"
# wait_line PATTERN FILE SECONDS: until a line of FILE matches.
wait_line() {
    deadline=$(($(now_ms) + $3 * 1000))
    until grep -q "$1" "$2"; do
        [ "$(now_ms)" -lt "$deadline" ] || return 1
        usleep 50000
    done
}
# pair_by WAY OUTPUT: "direct" is root opening the node itself, "service" is
# bondara-ok, who cannot, through the pairing service.
pair_by() {
    case $1 in
        direct) "$CLI" pair mouse >"$2.out" 2>"$2.err" ;;
        service) as bondara-ok "$CLI pair mouse" >"$2.out" 2>"$2.err" ;;
    esac
}
# The service's own account of its run for bondara-ok on the receiver, in the
# bus's log after line FROM: "ends: WORDS" under the same number as its start.
service_run() { # FROM
    tail -n +"$(($1 + 1))" "$BUS_LOG" | awk -v path="/dev/$NODE#col03" '
    match($0, /pairing [0-9]+ starts: /) && index($0, "starts: uid 1001, mouse on " path " (") {
        id = substr($0, RSTART + 8, RLENGTH - 17)
    }
    id != "" && index($0, "pairing " id " ends: uid 1001 on " path ": ") {
        print substr($0, index($0, path ": ") + length(path) + 2); exit
    }'
}
# beside NAME FIRST SECOND: FIRST pairs a mouse; once the receiver has had its
# first poll SECOND tries the same receiver and must be told it is busy, sending
# nothing; then a device comes into pairing mode and FIRST pairs it.
beside() {
    name=$1
    log=/tmp/beside-$name.log
    start_receiver "$log" "$PID" --pair-after never || return
    withhold_node
    bus_lines=$(wc -l <"$BUS_LOG")
    pair_by "$2" "/tmp/beside-$name-first" &
    first=$!
    if ! wait_line " poll 1: not yet$" "$log" 30; then
        problem "$name: $2's pairing had no poll within 30 s"
        kill "$first" 2>/dev/null
    fi
    pair_by "$3" "/tmp/beside-$name-second"
    rc=$?
    [ $rc -eq 2 ] || problem "$name: $3 beside $2's run exited $rc, expected 2"
    grep -qx "$BUSY_WORDS" "/tmp/beside-$name-second.out" || problem "$name: $3 did not print \"$BUSY_WORDS\""
    kill -ALRM "$RECEIVER"
    wait "$first"
    rc=$?
    stop_receiver
    [ $rc -eq 0 ] || problem "$name: $2's own run exited $rc, expected 0 once a device came"
    grep -qx "Matched successfully" "/tmp/beside-$name-first.out" || problem "$name: $2 did not print \"Matched successfully\""
    got=$(frames "$log")
    echo "$got" | grep -Eqx 'begin-mouse,poll(\*[0-9]+)?,end' ||
        problem "$name: frames $got, expected one begin-mouse, polls, then the end command last"
    fetches_match "$log" || problem "$name: not one fetch of report 0xBA per command"
    if [ "$2" = service ] || [ "$3" = service ]; then
        grep -qx "This user cannot open it: the pairing service pairs it, if polkit allows." /tmp/beside-$name-*.out ||
            problem "$name: bondara-ok did not turn to the pairing service"
        want="Matched successfully"
        [ "$3" = service ] && want=$BUSY_WORDS
        ended=$(service_run "$bus_lines")
        [ "$ended" = "$want" ] || problem "$name: the service logged its run as ending \"$ended\", expected \"$want\""
    fi
    echo "  $name: $got"
    details && { show "/tmp/beside-$name"-*.out "/tmp/beside-$name"-*.err "$log"; tail -n +"$((bus_lines + 1))" "$BUS_LOG" | show; }
}

echo "--- check 11: a program that opens the receiver itself beside the pairing service"
if [ -n "$BUS_PROBLEM" ]; then
    problem "no system bus and polkit: $BUS_PROBLEM"
else
    beside service-then-direct service direct
    beside direct-then-service direct service
fi
verdict 11 "root's own pairing and the service's on one receiver, either first: the second is busy (exit 2) and sends nothing, the first pairs"

echo "--- check 12: two programs that open the receiver themselves"
beside direct-then-direct direct direct
verdict 12 "two root pairings on one receiver: the second is busy (exit 2) and sends nothing, the first pairs"

# --- 13. a receiver that never answers ------------------------------------------------

echo "--- check 13: a receiver that leaves every report request unanswered"
# A run starts no exchange after 35 s and one takes at most 10.35 s (the
# kernel's 5 s per transfer, twice, and the poll's pause); with the end command's
# two exchanges and a stop, 35 + 3 x 10.35 s in all. Emulation adds start-up
# and scan, a quarter of the bound at most.
RUN_BOUND_MS=$((35000 + 3 * 10350))
STALL_LIMIT_MS=$((RUN_BOUND_MS * 5 / 4))
if start_receiver /tmp/stall.log "$PID" --pair-after 0 --ignore-get-report; then
    start=$(now_ms)
    timeout $((STALL_LIMIT_MS / 1000 + 30)) "$CLI" pair mouse >/tmp/stall.out 2>/tmp/stall.err
    rc=$?
    took=$(($(now_ms) - start))
    stop_receiver
    [ $rc -eq 3 ] || problem "pair mouse with a receiver that never answers exited $rc, expected 3 (timeout says 143)"
    grep -q "^Matched failed: no reply could be read from the receiver (.*)$" /tmp/stall.out ||
        problem "no \"Matched failed: no reply could be read from the receiver (...)\""
    got=$(frames /tmp/stall.log)
    echo "$got" | grep -Eqx 'begin-mouse(\*[0-9]+)?,end(\*[0-9]+)?' ||
        problem "frames $got, expected begins whose fetches fail, then the end command last"
    fetches_match /tmp/stall.log || problem "not one fetch of report 0xBA per command"
    unanswered=$(grep -c " get-report ba input ignored$" /tmp/stall.log)
    echo "  $got; $unanswered fetches unanswered; ended after $took ms (bound $RUN_BOUND_MS ms, limit $STALL_LIMIT_MS ms)"
    [ "$took" -le "$STALL_LIMIT_MS" ] || problem "the run took $took ms, more than 5/4 of its bound of $RUN_BOUND_MS ms"
    # Each fetch waited out the kernel's 5 s: the failures are the kernel's timeouts.
    [ "$took" -ge $((unanswered * 5000)) ] || problem "$unanswered fetches cannot time out in $took ms"
    details && show /tmp/stall.out /tmp/stall.err /tmp/stall.log
fi
verdict 13 "a receiver that never answers: the fetches time out, the end command follows, read failure (exit 3) within the run's bound"

# --- 14. scans stay linear ------------------------------------------------------------

echo "--- check 14: a node with as many top-level collections as a descriptor holds"
# The same 1,360 interfaces on one node (4,083 bytes: a usage page and the
# empty collections) or on eight of 170: a scan that reads and parses a node's
# descriptor once costs about the same either way; one that parses it again for
# each collection pays eight times the parsing on the one node, about twice the
# whole scan here. Against the receiver alone the ratio would mostly weigh the
# interfaces' own udev lookups, which every scan pays.
COLLECTIONS=1360
NODES=8
BIG_PID=5a03
SMALL_PID=5a04
SCANS=3
SCAN_RATIO_LIMIT=1.35
nodes_of() { # PID: how many hidraw nodes the device with that product id has
    grep -lix "HID_ID=0003:0000$VID:0000$1" /sys/class/hidraw/*/device/uevent 2>/dev/null | wc -l
}
wait_nodes() { # PID COUNT
    deadline=$(($(now_ms) + 30000))
    until [ "$(nodes_of "$1")" -eq "$2" ]; do
        [ "$(now_ms)" -lt "$deadline" ] || return 1
        usleep 50000
    done
}
# timed_list NAME [PID COUNT]: one whole scan, its milliseconds appended to
# /tmp/scan-NAME.ms; the device PID must show COUNT collections in all.
timed_list() {
    start=$(now_ms)
    "$CLI" list >/tmp/scan.out 2>/tmp/scan.err
    rc=$?
    echo $(($(now_ms) - start)) >>"/tmp/scan-$1.ms"
    [ $rc -eq 0 ] || problem "list ($1) exited $rc, expected 0"
    grep -q "^match: $CATALOGUE_NAME (vid $VID, pid $PID, usage ff00:0001) at /dev/$RECEIVER_NODE#col03$" /tmp/scan.out ||
        problem "list ($1) did not find the receiver"
    for other in "$BIG_PID" "$SMALL_PID"; do
        listed=$(grep -c "^/dev/hidraw[0-9]*#col[0-9]*  $VID:$other " /tmp/scan.out)
        want=0
        [ "$other" = "${2:-}" ] && want=$3
        [ "$listed" -eq "$want" ] || problem "list ($1) showed $listed collections of $VID:$other, expected $want"
    done
}
# The fastest of the runs: the machine's other work only ever slows a run down.
fastest() { sort -n "$1" | head -n 1; }
signal_all() { # SIGNAL PROCESSES...
    signal=$1
    shift
    for process in "$@"; do kill "-$signal" "$process"; done
}
for name in alone one spread; do : >"/tmp/scan-$name.ms"; done
if start_receiver /tmp/scan-receiver.log "$PID"; then
    ORDINARY=$RECEIVER
    RECEIVER_NODE=$NODE
    smalls=""
    i=0
    while [ $i -lt $NODES ]; do
        "$EMULATOR" --vid "$VID" --pid "$SMALL_PID" --name "$HIDNAME" --log "/tmp/scan-small-$i.log" \
            --collections $((COLLECTIONS / NODES)) 2>>"/tmp/scan-small-$i.log" &
        smalls="$smalls $!"
        i=$((i + 1))
    done
    wait_nodes "$SMALL_PID" "$NODES" || problem "$NODES nodes of $((COLLECTIONS / NODES)) collections did not all appear"
    signal_all USR1 $smalls
    wait_nodes "$SMALL_PID" 0 || problem "the small nodes stayed after their unplug"
    if [ "$BAD" -eq 0 ] && start_receiver /tmp/scan-big.log "$BIG_PID" --collections "$COLLECTIONS"; then
        BIG=$RECEIVER
        n=0
        # Interleaved, so that a slower stretch of the machine falls on each.
        while [ $n -lt $SCANS ] && [ "$BAD" -eq 0 ]; do
            timed_list one "$BIG_PID" "$COLLECTIONS"
            kill -USR1 "$BIG"
            signal_all USR2 $smalls
            { wait_nodes "$BIG_PID" 0 && wait_nodes "$SMALL_PID" "$NODES"; } || problem "the nodes did not change over"
            timed_list spread "$SMALL_PID" "$COLLECTIONS"
            signal_all USR1 $smalls
            wait_nodes "$SMALL_PID" 0 || problem "the small nodes stayed after their unplug"
            timed_list alone
            kill -USR2 "$BIG"
            wait_nodes "$BIG_PID" 1 || problem "the node of $COLLECTIONS collections did not come back"
            n=$((n + 1))
        done
        kill "$BIG" 2>/dev/null
        wait "$BIG" 2>/dev/null
    fi
    signal_all TERM $smalls
    wait $smalls 2>/dev/null
    RECEIVER=$ORDINARY
    stop_receiver
    if [ "$(wc -l </tmp/scan-alone.ms)" -eq "$SCANS" ]; then
        alone=$(fastest /tmp/scan-alone.ms)
        one=$(fastest /tmp/scan-one.ms)
        spread=$(fastest /tmp/scan-spread.ms)
        ratio=$(awk -v a="$one" -v b="$spread" 'BEGIN { printf "%.2f", a / b }')
        echo "  list (fastest of $SCANS): receiver alone $alone ms; beside one node of $COLLECTIONS collections $one ms" \
            "($(awk -v a="$alone" -v b="$one" 'BEGIN { printf "%.1f", b / a }') x alone); beside $NODES nodes of" \
            "$((COLLECTIONS / NODES)) $spread ms; one node against $NODES: $ratio x"
        for name in alone one spread; do echo "  $name: $(tr '\n' ' ' <"/tmp/scan-$name.ms")ms"; done
        awk -v r="$ratio" -v limit="$SCAN_RATIO_LIMIT" 'BEGIN { exit !(r <= limit) }' ||
            problem "a scan of one node of $COLLECTIONS collections took $ratio x one of $NODES nodes of $((COLLECTIONS / NODES)), more than $SCAN_RATIO_LIMIT x"
    else
        problem "the scans could not be timed"
    fi
    details && { show /tmp/scan-big.log /tmp/scan-small-0.log; head -n 20 /tmp/scan.out | show; }
fi
verdict 14 "scans stay linear: $COLLECTIONS collections on one node cost at most $SCAN_RATIO_LIMIT x the same on $NODES nodes"

finish
