#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The pairing service on a private system bus with Debian's dbus-daemon and
# polkitd (tests/service/privatebus.sh), the service's test build on the
# simulated machine and a polkit rules file that authorises two test users and
# refuses another: doctor tells each what polkit answers, without starting the
# service; the bus starts the service as root without systemd; an authorised
# user pairs a receiver whose node is root's alone, another is refused and the
# receiver receives nothing; bad requests, a second request and a stranger's
# stop are refused with named errors; hostile callers (a password question never
# answered, refusals in loops, a flood, a forged notice) keep no one else from
# pairing, and two users pair two receivers at once; a run whose caller goes
# away or stops ends with the end command; the service ends when idle. The machine's own bus, policies and users are left
# as they were. Run as root. Usage: run-service-tests.sh BUILD_DIR OUT_DIR
# (it runs itself again inside the harness, with --inside BUILD_DIR OUT_DIR).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
data=$here/data
source "$here/../../tools/testlib.sh"

ok_user=bondara-ok
second_user=bondara-second
other_user=bondara-other
refused_user=bondara-refused
idle_seconds=2
# How long the service's test build lets a password question wait (the installed one: 120 s).
question_seconds=10

# as USER COMMAND...: runs the command as that user, with no groups of root's
# and an environment of its own.
# A sanitizer build's options go along.
sanitizer_env=()
for variable in ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS TSAN_OPTIONS; do
    [ -n "${!variable:-}" ] && sanitizer_env+=("$variable=${!variable}")
done
as() {
    local user=$1
    shift
    setpriv --reuid "$user" --regid "$user" --clear-groups -- env -i PATH=/usr/bin:/bin LANG=C.UTF-8 \
        XDG_RUNTIME_DIR="$shared/runtime-$user" QT_QPA_PLATFORM=offscreen BONDARA_SIMULATE="$scene" \
        "${sanitizer_env[@]}" "$@"
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
# pair_call USER LOG ARGS...: the service's Pair method called as that user with
# dbus-send's typed ARGS; the reply or error goes to $out/LOG.
pair_call() {
    local user=$1 log=$2
    shift 2
    as "$user" dbus-send --system --print-reply --reply-timeout=60000 --dest=org.bondara.Pairing1 \
        /org/bondara/Pairing1 org.bondara.Pairing1.Pair "$@" >"$out/$log" 2>&1
}
# frames_since N [INTERFACE]: the trace's reports after its first N lines, by name;
# with INTERFACE, only those sent to it.
frames_since() {
    tail -n +"$(($1 + 1))" "$trace" >"$out/trace-part.txt"
    trace_frames "$out/trace-part.txt" "${2:-}"
}
# service_log_since N: the bus's log after its first N lines (the service's own lines among them).
service_log_since() { tail -n +"$(($1 + 1))" "$PRIVATEBUS_LOGS/dbus-daemon.log"; }
log_lines() { wc -l <"$PRIVATEBUS_LOGS/dbus-daemon.log"; }
lines() { wc -l <"$trace"; }
service_pid() { bus_call GetConnectionUnixProcessID string:org.bondara.Pairing1 2>/dev/null | awk '{print $2}'; }
# doctor_as USER LOG [ARGS...]: bondara-cli doctor as that user, its output in $out/LOG.
doctor_as() {
    local user=$1 log=$2
    shift 2
    as "$user" "$cli" doctor --config "$catalogue" "$@" >"$out/$log" 2>&1
}
# doctor_says USER STATUS PATTERN...: true when doctor as that user exits with
# STATUS (left in $code) and prints a line matching each grep pattern.
doctor_says() {
    local user=$1 status=$2 pattern
    shift 2
    doctor_as "$user" "doctor-$user.log"
    code=$?
    [ $code -eq "$status" ] || return 1
    for pattern in "$@"; do
        grep -q -- "$pattern" "$out/doctor-$user.log" || return 1
    done
}
# doctor_json LOG: "check level" per line of the doctor's JSON in $out/LOG, after
# the object has passed the schema; nothing when it does not.
doctor_json() {
    python3 -c 'import json, sys; print(json.dumps(json.load(sys.stdin)))' <"$out/$1" >"$out/$1.line" &&
        python3 "$here/../../cli/validate-jsonl.py" "$here/../../cli/doctor.schema.json" "$out/$1.line" \
            >"$out/$1.schema" 2>&1 &&
        python3 -c 'import json, sys
d = json.load(sys.stdin)
print("result", d["result"])
for c in d["checks"]: print(c["check"], c["level"])' <"$out/$1"
}
# wait_trace N SECONDS: true once the trace has more than N lines.
wait_trace() {
    local deadline=$((SECONDS + $2))
    until [ "$(lines)" -gt "$1" ]; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.05
    done
}

# on_terminal NAME ARGS...: bondara-cli ARGS as the other user on a terminal of its own
# (so it starts polkit's text agent), reading what is typed from the FIFO $out/NAME-input,
# its screen in $out/NAME.log; its pid in $terminal.
on_terminal() {
    local name=$1
    shift
    rm -f "$out/$name-input"
    mkfifo "$out/$name-input"
    as "$other_user" timeout 120 script -qec "$cli $* --config $catalogue" /dev/null <"$out/$name-input" \
        >"$out/$name.log" 2>&1 &
    terminal=$!
}

# What the test users run and read, in a folder they can reach wherever the build is.
set_shared() {
    shared=$1
    cli=$shared/bondara-cli
    catalogue=$shared/Config/DeviceConfig.json
    window=$shared/window/tst_pairservice
    scene=$shared/receivers.json
    trace=$shared/trace.txt
}

if [ "${1:-}" = --inside ]; then
    out=$2
    set_shared "$3"
    for user in "$ok_user" "$second_user" "$other_user" "$refused_user"; do
        install -d -m 700 -o "$user" -g "$user" "$shared/runtime-$user"
    done
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
    # Without a session the action's auth_admin applies, and with no agent
    # polkit can only say that authentication would be needed.
    pkcheck_as "$ok_user"
    ok_code=$?
    pkcheck_as "$other_user"
    other_code=$?
    if [ $ok_code -eq 0 ] && [ $other_code -eq 2 ] && grep -q 'requires authentication' "$out/pkcheck-$other_user.log"; then
        pass "pkcheck: $ok_user may pair by the test rules, $other_user would need an administrator"
    else
        fail "pkcheck: $ok_user status $ok_code, $other_user status $other_code: $(cat "$out"/pkcheck-*.log)"
    fi

    # doctor asks the bus and polkit about itself, without a prompt; the
    # scene's receivers are root's alone, so pairing goes through the service.
    closed='^ok      access     this user cannot open sim:%s#col02: .*; pairing goes through the pairing service$'
    # shellcheck disable=SC2059
    if doctor_says "$ok_user" 0 \
        '^ok      service    the pairing service org.bondara.Pairing1 is installed and the system bus reaches it$' \
        '^ok      polkit     polkit lets this user pair through the service (action org.bondara.pair)$' \
        "$(printf "$closed" rx)" "$(printf "$closed" slow)"; then
        pass "doctor as $ok_user: the service is installed and reachable, polkit authorises this user, the closed receivers pair through it"
    else
        fail "doctor as $ok_user: status $code: $(cat "$out/doctor-$ok_user.log")"
    fi
    if doctor_says "$other_user" 0 '^ok      service    the pairing service org.bondara.Pairing1 is installed' \
        '^warning polkit     polkit lets this user pair through the service (action org.bondara.pair) once a password is given: .* -- fix: '; then
        pass "doctor as $other_user: polkit authorises this user only with a password (a warning, exit 0)"
    else
        fail "doctor as $other_user: status $code: $(cat "$out/doctor-$other_user.log")"
    fi
    allow='ask an administrator to allow you the polkit action org.bondara.pair'
    if doctor_says "$refused_user" 1 \
        "^problem polkit     polkit does not let this user pair through the service (action org.bondara.pair): not authorised -- fix: $allow" \
        "^problem access     this user cannot open sim:rx#col02: .* -- fix: $allow .*; or, "; then
        pass "doctor as $refused_user, whom polkit refuses: a problem (exit 1), and the access problem's fix says to ask an administrator"
    else
        fail "doctor as $refused_user: status $code: $(cat "$out/doctor-$refused_user.log")"
    fi
    doctor_as "$ok_user" doctor-ok.json --json
    ok_json=$(doctor_json doctor-ok.json | tr '\n' ' ')
    doctor_as "$other_user" doctor-other.json --json
    other_json=$(doctor_json doctor-other.json | tr '\n' ' ')
    if [[ $ok_json == "result ok "*"service ok polkit ok "* ]] &&
        [[ $other_json == "result warning "*"service ok polkit warning "* ]]; then
        pass "doctor --json passes its schema and says the same: $ok_user authorised, $other_user challenged"
    else
        fail "doctor --json: $ok_user: $ok_json; $other_user: $other_json: $(cat "$out"/doctor-*.json "$out"/doctor-*.schema 2>&1)"
    fi

    if [ "$(bus_call NameHasOwner string:org.bondara.Pairing1 2>&1)" = "   boolean false" ]; then
        pass "the service is not running before its first call: doctor did not start it"
    else
        fail "the service was running before its first call"
    fi

    # The node is root's alone: the user's own program cannot open it, the service pairs it.
    start=$(lines)
    as "$ok_user" "$cli" pair mouse --receiver 'sim:rx#col02' --config "$catalogue" \
        >"$out/pair-ok.log" 2>&1
    code=$?
    frames=$(frames_since "$start")
    if [ $code -eq 0 ] && grep -q '^This user cannot open it: the pairing service pairs it' "$out/pair-ok.log" &&
        grep -qx 'Matched successfully' "$out/pair-ok.log" && [ "$frames" = "begin-mouse,poll*3,end" ]; then
        pass "$ok_user pairs a receiver closed to it through the service: begin, polls, end"
    else
        fail "$ok_user's pairing: status $code, trace $frames: $(cat "$out/pair-ok.log")"
    fi
    if grep -q "Successfully activated service 'org.bondara.Pairing1'" "$PRIVATEBUS_LOGS/dbus-daemon.log" &&
        grep -q "Activating service name='org.bondara.Pairing1'.*(using servicehelper)" \
            "$PRIVATEBUS_LOGS/dbus-daemon.log" && [ "$(awk '/^Uid:/ { print $2 }' "/proc/$(service_pid)/status")" = 0 ]; then
        pass "the bus started the service through its setuid helper, as root, without systemd"
    else
        fail "activation of the service: $(grep Pairing1 "$PRIVATEBUS_LOGS/dbus-daemon.log")"
    fi

    start=$(lines)
    as "$ok_user" "$cli" pair keyboard --json --receiver 'sim:rx#col02' \
        --config "$catalogue" >"$out/pair-json.log" 2>&1
    code=$?
    if [ $code -eq 0 ] && [ "$(grep -c '"event":"poll"' "$out/pair-json.log")" -eq 3 ] &&
        grep -q '"status":"paired"' "$out/pair-json.log" && grep -q '"reason":"paired"' "$out/pair-json.log" &&
        python3 "$here/../../cli/validate-jsonl.py" "$here/../../cli/events.schema.json" "$out/pair-json.log" &&
        [ "$(frames_since "$start")" = "begin-keyboard,poll*3,end" ]; then
        pass "the service's polls reach its caller: three poll events, then paired"
    else
        fail "$ok_user's pairing with --json: status $code: $(cat "$out/pair-json.log")"
    fi

    start=$(lines)
    as "$other_user" "$cli" pair mouse --receiver 'sim:rx#col02' \
        --config "$catalogue" >"$out/pair-other.log" 2>&1
    code=$?
    if [ $code -eq 2 ] && grep -qx 'Matched failed: pairing was not authorised for this user' "$out/pair-other.log" &&
        [ "$(lines)" -eq "$start" ]; then
        pass "$other_user is refused (exit 2, not authorised) and the receiver receives nothing"
    else
        fail "$other_user's pairing: status $code, $(($(lines) - start)) reports: $(cat "$out/pair-other.log")"
    fi

    # On a terminal, outside a login session, the command line starts polkit's
    # text agent: the administrator's password is asked there, and a wrong one
    # is a refusal.
    start=$(lines)
    on_terminal agent pair mouse --receiver 'sim:rx#col02'
    exec 7>"$out/agent-input"
    if wait_log "$out/agent.log" 'Password:' 20; then
        printf 'not-the-password\n' >&7
        wait "$terminal"
        code=$?
        if [ $code -eq 2 ] && grep -q '==== AUTHENTICATING FOR org.bondara.pair ====' "$out/agent.log" &&
            grep -q 'Matched failed: pairing was not authorised for this user' "$out/agent.log" &&
            [ "$(lines)" -eq "$start" ]; then
            pass "on a terminal polkit's text agent asks for the password; a wrong one is refused (exit 2), nothing sent"
        else
            fail "the text agent: status $code, $(($(lines) - start)) reports: $(cat "$out/agent.log")"
        fi
    else
        fail "no password was asked on the terminal: $(cat "$out/agent.log")"
        kill "$terminal" 2>/dev/null
    fi
    exec 7>&-

    # What the service refuses, each by its own name; nothing reaches a receiver.
    start=$(lines)
    refusals=(
        "NotAReceiver|string:sim:other#col01 string:mouse|an interface that is no catalogue receiver"
        "NotAReceiver|string:/dev/hidraw99 string:mouse|a path where nothing is"
        "InvalidArgument|string:sim:rx#col02 string:cat|a kind that is neither mouse nor keyboard"
        "InvalidArgument|string: string:mouse|an empty path"
        "org.freedesktop.DBus.Error.UnknownMethod|int32:42 string:mouse|arguments of the wrong type"
    )
    for row in "${refusals[@]}"; do
        IFS='|' read -r error args what <<<"$row"
        [[ $error == *.* ]] || error=org.bondara.Pairing1.Error.$error
        # shellcheck disable=SC2086
        pair_call "$ok_user" refusal.log $args
        if grep -q "^Error $error:" "$out/refusal.log"; then
            pass "refused with $error: $what"
        else
            fail "$what: $(cat "$out/refusal.log")"
        fi
    done
    pair_call "$ok_user" refusal.log "string:sim:rx#col02$(printf '\t')x" string:mouse
    if grep -q "^Error org.bondara.Pairing1.Error.InvalidArgument:" "$out/refusal.log" && [ "$(lines)" -eq "$start" ]; then
        pass "refused with InvalidArgument: a path with a control character; no refusal reached a receiver"
    else
        fail "a path with a tab, $(($(lines) - start)) reports: $(cat "$out/refusal.log")"
    fi

    # A run that never pairs; a second request and a stranger's stop are refused
    # while it goes, and its caller's going ends it with the end command.
    start=$(lines)
    pair_call "$ok_user" long-run.log string:'sim:slow#col02' string:mouse &
    caller=$!
    # Begun and polling.
    if wait_trace "$((start + 1))" 10; then
        pair_call "$ok_user" second.log string:'sim:rx#col02' string:keyboard
        pair_call "$second_user" same-receiver.log string:'sim:slow#col02' string:mouse
        # A busy receiver is named before polkit is asked, so no one is asked a password for it.
        pair_call "$refused_user" busy-unasked.log string:'sim:slow#col02' string:mouse
        as "$other_user" dbus-send --system --print-reply --dest=org.bondara.Pairing1 /org/bondara/Pairing1 \
            org.bondara.Pairing1.Stop string:'sim:slow#col02' >"$out/stranger-stop.log" 2>&1
        if grep -q '^Error org.bondara.Pairing1.Error.Busy: a pairing request of this user is in progress' "$out/second.log" &&
            grep -q '^Error org.bondara.Pairing1.Error.Busy: a pairing is in progress on sim:slow#col02$' "$out/same-receiver.log" &&
            grep -q '^Error org.bondara.Pairing1.Error.Busy: a pairing is in progress on sim:slow#col02$' "$out/busy-unasked.log" &&
            grep -q '^Error org.bondara.Pairing1.Error.NotRunning:' "$out/stranger-stop.log"; then
            pass "during a run, its user's second request and another user's on its receiver are Busy (before polkit, for a user it refuses too), and another user cannot stop it (NotRunning)"
        else
            fail "during a run: $(cat "$out/second.log" "$out/same-receiver.log" "$out/busy-unasked.log" "$out/stranger-stop.log")"
        fi
        pkill -KILL -P "$caller" 2>/dev/null
        kill -KILL "$caller" 2>/dev/null
        wait "$caller" 2>/dev/null
        if wait_log "$PRIVATEBUS_LOGS/dbus-daemon.log" \
            "pairing [0-9]* ends: uid $(id -u "$ok_user") on sim:slow#col02: Pairing stopped (its caller went away)" 10 &&
            [[ $(frames_since "$start") =~ ^begin-mouse,poll(\*[0-9]+)?,end$ ]]; then
            pass "a caller that goes away mid-run leaves the trace ending with the end command: $(frames_since "$start")"
        else
            fail "after the caller went: trace $(frames_since "$start"): $(tail -5 "$PRIVATEBUS_LOGS/dbus-daemon.log")"
        fi
    else
        fail "the long run never reached the receiver: $(cat "$out/long-run.log")"
        kill "$caller" 2>/dev/null
    fi

    # Ctrl+C in the command line: it asks the service to stop, which sends the end command.
    start=$(lines)
    as "$ok_user" "$cli" pair mouse --receiver 'sim:slow#col02' \
        --config "$catalogue" >"$out/pair-stopped.log" 2>&1 &
    cli_pid=$!
    if wait_trace "$((start + 1))" 10; then
        pkill -INT -P "$cli_pid"
        wait "$cli_pid"
        code=$?
        if [ $code -eq 130 ] && grep -qx 'Pairing stopped' "$out/pair-stopped.log" &&
            [[ $(frames_since "$start") =~ ^begin-mouse,poll(\*[0-9]+)?,end$ ]]; then
            pass "the command line's Ctrl+C stops the service's run with the end command (exit 130)"
        else
            fail "Ctrl+C: status $code, trace $(frames_since "$start"): $(cat "$out/pair-stopped.log")"
        fi
    else
        fail "the command line's run never reached the receiver: $(cat "$out/pair-stopped.log")"
        kill "$cli_pid" 2>/dev/null
    fi

    # --- hostile callers: none keeps another user from pairing ------------------------------
    ok_uid=$(id -u "$ok_user")
    refused_uid=$(id -u "$refused_user")
    # pairs USER KIND RECEIVER LOG: USER pairs through the service, exit 0, and the receiver's
    # reports are that kind's begin, polls and the end command.
    pairs() {
        local start code
        start=$(lines)
        as "$1" "$cli" pair "$2" --receiver "$3" --config "$catalogue" >"$out/$4" 2>&1
        code=$?
        [ $code -eq 0 ] && [[ $(frames_since "$start" "$3") =~ ^begin-$2,poll(\*[0-9]+)?,end$ ]]
    }
    # refusing_loops N ARGS...: N loops of Pair calls as the refused user, in the background.
    refusing_loops() {
        local n=$1
        shift
        loops=()
        for ((i = 0; i < n; i++)); do
            (while :; do pair_call "$refused_user" "loop-$i.log" "$@"; done) &
            loops+=($!)
        done
    }
    stop_loops() {
        kill "${loops[@]}" 2>/dev/null
        wait "${loops[@]}" 2>/dev/null
    }

    # A password question that is never answered holds its own user's turn alone.
    on_terminal question pair mouse --json --receiver 'sim:rx#col02'
    asker=$terminal
    exec 8>"$out/question-input"
    if wait_log "$out/question.log" 'Password:' 20 && pairs "$ok_user" mouse 'sim:rx#col02' question-ok.log; then
        pass "while $other_user's password question goes unanswered, $ok_user pairs the same receiver"
    else
        fail "beside an unanswered question: $(cat "$out/question.log" "$out/question-ok.log")"
    fi
    # ... and the question ends by itself, a refusal.
    asked=$SECONDS
    wait "$asker"
    code=$?
    exec 8>&-
    if [ $code -eq 2 ] && grep -q '"reason":"not-authorised"' "$out/question.log" &&
        grep -q "not answered within $question_seconds s" "$out/question.log" &&
        [ $((SECONDS - asked)) -le "$question_seconds" ]; then
        pass "a password question left unanswered is refused after the service's $question_seconds s (exit 2)"
    else
        fail "the unanswered question: status $code after $((SECONDS - asked)) s: $(cat "$out/question.log")"
        pkill -KILL -P "$asker" 2>/dev/null
    fi

    # Refused callers in loops cost an allowed user nothing.
    log_start=$(log_lines)
    refusing_loops 4 string:'sim:rx#col02' string:mouse
    paired=0
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        pairs "$ok_user" mouse 'sim:rx#col02' loops-ok.log && paired=$((paired + 1))
    done
    stop_loops
    if [ "$paired" -eq 10 ] && service_log_since "$log_start" | grep -q "uid $refused_uid refused (NotAuthorized)"; then
        pass "four loops of refused requests beside: $ok_user pairs ten times out of ten"
    else
        fail "beside the refused loops $ok_user paired $paired times of 10: $(cat "$out/loops-ok.log")"
    fi

    # A flood of malformed calls: the journal gets a few lines of it and the real run's lines all the same.
    log_start=$(log_lines)
    for ((i = 0; i < 4; i++)); do
        (for _ in $(seq 100); do pair_call "$refused_user" flood.log string:'sim:rx#col02' string:cat; done) &
        loops[i]=$!
    done
    wait "${loops[@]}"
    pairs "$ok_user" keyboard 'sim:rx#col02' flood-ok.log
    code=$?
    service_log_since "$log_start" >"$out/flood-journal.log"
    flood_lines=$(grep -c "uid $refused_uid" "$out/flood-journal.log")
    if [ $code -eq 0 ] && [ "$flood_lines" -le 6 ] && grep -q '^Error org.bondara.Pairing1.Error.InvalidArgument' "$out/flood.log" &&
        grep -q "pairing [0-9]* starts: uid $ok_uid, keyboard on sim:rx#col02" "$out/flood-journal.log" &&
        grep -q "pairing [0-9]* ends: uid $ok_uid on sim:rx#col02: Matched successfully" "$out/flood-journal.log"; then
        pass "400 malformed calls leave $flood_lines lines in the journal (at most 6), beside the allowed run's start and end"
    else
        fail "the flood: $flood_lines lines of uid $refused_uid, pairing status $code: $(head -20 "$out/flood-journal.log")"
    fi

    # A receiver argument that forges a notice reaches neither the journal nor another caller.
    notice='NOTICE FROM YOUR ADMINISTRATOR: run sudo bondara-repair'
    forged=(
        "NotAReceiver|sim:zz $notice|printable, but no receiver's path"
        "InvalidArgument|sim:rx#col02$(printf '\u202e')$notice|behind a right-to-left override"
        "InvalidArgument|sim:rx#col02$(printf '\u0085')$notice|after a C1 line break"
    )
    for row in "${forged[@]}"; do
        IFS='|' read -r error path what <<<"$row"
        pair_call "$refused_user" forged.log "string:$path" string:mouse
        if grep -q "^Error org.bondara.Pairing1.Error.$error" "$out/forged.log"; then
            pass "a forged notice $what is refused with $error"
        else
            fail "a forged notice $what: $(cat "$out/forged.log")"
        fi
    done
    if ! grep -q 'ADMINISTRATOR' "$PRIVATEBUS_LOGS/dbus-daemon.log"; then
        pass "no journal line shows a forged notice"
    else
        fail "the journal shows a caller's text: $(grep 'ADMINISTRATOR' "$PRIVATEBUS_LOGS/dbus-daemon.log" | head -3)"
    fi

    # Two users, two receivers, at once: each run has its own begin and end.
    start=$(lines)
    as "$ok_user" "$cli" pair mouse --receiver 'sim:rx2#col02' --config "$catalogue" >"$out/two-ok.log" 2>&1 &
    first=$!
    wait_trace "$((start + 1))" 10
    as "$second_user" "$cli" pair keyboard --receiver 'sim:rx#col02' --config "$catalogue" >"$out/two-second.log" 2>&1
    second_code=$?
    wait "$first"
    first_code=$?
    tail -n +"$((start + 1))" "$trace" | cut -f1 | uniq | tr '\n' ' ' >"$out/two-order.txt"
    if [ $first_code -eq 0 ] && [ $second_code -eq 0 ] &&
        [[ $(frames_since "$start" 'sim:rx2#col02') =~ ^begin-mouse,poll\*9,end$ ]] &&
        [[ $(frames_since "$start" 'sim:rx#col02') =~ ^begin-keyboard,poll\*3,end$ ]] &&
        [[ $(cat "$out/two-order.txt") == "sim:rx2#col02 sim:rx#col02 "*"sim:rx2#col02 " ]]; then
        pass "$ok_user and $second_user pair two receivers at the same time, each with its own begin and end"
    else
        fail "two at once: status $first_code and $second_code, order $(cat "$out/two-order.txt"): $(cat "$out/two-ok.log" "$out/two-second.log")"
    fi

    # The window: connected through the service, pairing, stopping, and refused.
    window_test() { # window_test USER LOG CASES...
        local user=$1 log=$2
        shift 2
        as "$user" BONDARA_SERVICE_TRACE="$trace" "$window" "$@" >"$out/$log" 2>&1
    }
    if window_test "$ok_user" window-ok.log receiversClosedToTheUserShowConnected pairsThroughTheService \
        stopEndsTheServiceRun; then
        pass "the window shows receivers closed to $ok_user as connected, pairs and stops through the service"
    else
        fail "the window as $ok_user: $(grep -E '^(FAIL|   Loc|Totals)' "$out/window-ok.log")"
    fi
    if window_test "$other_user" window-other.log refusedUserSeesTheHint; then
        pass "the window tells $other_user that pairing was not authorised, with its hint; nothing is sent"
    else
        fail "the window as $other_user: $(grep -E '^(FAIL|   Loc|Totals)' "$out/window-other.log")"
    fi

    pid=$(service_pid)
    deadline=$((SECONDS + idle_seconds + 10))
    while [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
        sleep 0.1
    done
    if [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null &&
        [ "$(bus_call NameHasOwner string:org.bondara.Pairing1 2>&1)" = "   boolean false" ]; then
        pass "the service ends by itself after $idle_seconds idle seconds"
    else
        fail "the service (pid '$pid') is still there after $((idle_seconds + 10)) s"
    fi
    if grep -q 'Sanitizer' "$PRIVATEBUS_LOGS/dbus-daemon.log"; then
        fail "a sanitizer reported on the service: $(grep -A20 'Sanitizer' "$PRIVATEBUS_LOGS/dbus-daemon.log" | head -40)"
    fi
    exit 0
fi

[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR OUT_DIR" >&2; exit 2; }
build=$(realpath "$1")
out=$(realpath -m "$2")
mkdir -p "$out"
rm -rf "$out"/*.log "$out"/*.service
for program in tests/service/bondara-pairingd-sim bondara-cli tests/service/tst_pairservice; do
    [ -x "$build/$program" ] || { echo "$build has no $program: build it first (with the tests)" >&2; exit 2; }
done

# What the run must leave as it found it.
machine_state() {
    getent passwd "$ok_user" "$second_user" "$other_user" "$refused_user"
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

set_shared "$(mktemp -d "${TMPDIR:-/tmp}/bondara-service.XXXXXX")"
trap 'rm -rf "$shared"' EXIT
chmod 755 "$shared"
mkdir -p "$shared/Config" "$shared/window/Config"
cp "$build/bondara-cli" "$cli"
cp "$build/tests/service/tst_pairservice" "$window"
cp "$build/Config/DeviceConfig.json" "$catalogue"
cp "$build/Config/DeviceConfig.json" "$shared/window/Config/"
cp "$data/receivers.json" "$scene"
# The service's trace: written by root, read by the checks.
: >"$trace"
chmod -R a+rX "$shared"
# The launch helper clears the environment: the Exec line names everything,
# a sanitizer build's options included.
exec_line="$build/tests/service/bondara-pairingd-sim"
[ ${#sanitizer_env[@]} -gt 0 ] && exec_line="/usr/bin/env ${sanitizer_env[*]} $exec_line"
sed -e "s|@BONDARA_PAIRINGD@|$exec_line|" \
    -e "s|@BONDARA_CATALOGUE@|$catalogue --simulate $scene --trace $trace --idle-seconds $idle_seconds --question-seconds $question_seconds|" \
    "$here/../../service/org.bondara.Pairing1.service.in" >"$out/org.bondara.Pairing1.service"
"$here/privatebus.sh" --action "$here/../../service/org.bondara.pair.policy" --rules "$data/50-bondara-test.rules" \
    --policy "$here/../../service/org.bondara.Pairing1.conf" --service "$out/org.bondara.Pairing1.service" \
    --user "$ok_user" --user "$second_user" --user "$other_user" --user "$refused_user" --logs "$out" \
    -- "$here/$(basename "$0")" --inside "$out" "$shared" | tee "$out/inside.log"
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
