#!/bin/bash
# SPDX-License-Identifier: MIT
# The checks inside the booted Debian guest (tests/boot/run-boot-test.sh puts them in its
# image), run by systemd as root once the machine is up. The package is installed with apt
# from the root's local repository; an emulated receiver on /dev/uhid is the hardware. The
# users' own requests are made inside their login sessions (session-agent.sh): "front" is
# logged in on tty1, the active session, "behind" on tty2, an inactive one; "admin" (group
# sudo, with a password) and "stranger" have no session and are started from here, outside
# logind. Every line goes to $out/checks.log and the console; the host reads the directory
# from the image after the power is off. The last line is "N passed, M failed".
set -uo pipefail
lib=/usr/local/lib/bondara-checks
out=/var/lib/bondara-checks
numbered=1
source "$lib/testlib.sh"
source "$lib/receiver-log.sh"
exec > >(tee -a "$out/checks.log" >/dev/console) 2>&1
output=$!
export LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive

release=$(. /etc/os-release && echo "$VERSION_ID")
deb=$(ls "$lib"/packages/bondara_*~deb"${release}"u1_*.deb)
old_deb=$(ls "$lib"/packages/bondara_2.0.0_*.deb)
emulator=$lib/uhid-receiver
unit=bondara-pairing.service
VID=1209
PID=5a01
HIDNAME="Bondara VM Receiver"
admin_password=pairing-admin-1
say() { echo "--- [$(cut -d' ' -f1 /proc/uptime) s] $*"; }
now_ms() { awk '{ printf "%d", $1 * 1000 }' /proc/uptime; }
# The checks of one row collect their problems; verdict turns them into one PASS or FAIL.
problems=()
problem() { problems+=("$*"); }
verdict() {
    if [ ${#problems[@]} -eq 0 ]; then
        pass "$*"
    else
        fail "$*"
        printf '    %s\n' "${problems[@]}"
    fi
    problems=()
}
# until_true SECONDS COMMAND...: polls the command every 0.1 s until it succeeds.
until_true() {
    local deadline=$(($(now_ms) + $1 * 1000))
    shift
    until "$@"; do
        [ "$(now_ms)" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

# --- the sessions --------------------------------------------------------------------------------
job_count=0
# session_start USER SCRIPT: queues the bash SCRIPT as a job of USER's login session; sets JOB
# to its files' stem. A script that ends in "exec COMMAND" runs COMMAND as the job's process.
session_start() {
    local dir=/home/$1/checks
    job_count=$((job_count + 1))
    JOB=$dir/$job_count
    # The job's own process says where it runs, before it becomes the command.
    printf '%s\n' "cat /proc/self/cgroup >$JOB.cgroup; cat /proc/self/sessionid >$JOB.sessionid" "$2" >"$JOB.sh"
    timeout 10 bash -c 'echo "$1" >"$2/queue"' _ "$job_count" "$dir" || { problem "$1's session took no job"; return 1; }
    until_true 10 test -s "$JOB.pid" || { problem "$1's job $job_count never started"; return 1; }
    JOB_PID=$(cat "$JOB.pid")
}
# session_wait SECONDS: the status of $JOB once it ended; 124 when it did not in time.
session_wait() {
    until_true "$1" test -s "$JOB.rc" || return 124
    return "$(cat "$JOB.rc")"
}
# session_from CGROUP SESSIONID: the logind session of a process whose /proc/PID/cgroup and
# /proc/PID/sessionid these are, by its cgroup and by its audit session where the kernel keeps
# one; "none" outside every session. session_of PID reads them live, job_session from $JOB's
# own record.
session_from() {
    local scope audit
    scope=$(sed -n 's|^0::.*/session-\([^/]*\)\.scope$|\1|p' "$1" 2>/dev/null)
    audit=$(cat "$2" 2>/dev/null)
    if [ -z "$scope" ]; then
        echo none
    elif [ "$audit" != 4294967295 ] && [ "$audit" != "$scope" ]; then
        echo "scope $scope, audit session $audit"
    else
        echo "$scope"
    fi
}
session_of() { session_from "/proc/$1/cgroup" "/proc/$1/sessionid"; }
job_session() { session_from "$JOB.cgroup" "$JOB.sessionid"; }
session_property() { loginctl show-session "$1" -p "$2" --value; }

# --- the receiver --------------------------------------------------------------------------------
# start_receiver NAME [OPTIONS]: an emulated receiver, logging to $out/receiver-NAME.log; sets
# RECEIVER (its process), RLOG and NODE (hidrawN) once udev is done with the new node.
start_receiver() {
    local name=$1 before
    shift
    RLOG=$out/receiver-$name.log
    : >"$RLOG"
    before=$(ls /sys/class/hidraw 2>/dev/null)
    "$emulator" --vid "$VID" --pid "$PID" --name "$HIDNAME" --log "$RLOG" "$@" 2>>"$RLOG" &
    RECEIVER=$!
    NODE=""
    new_node() {
        local node
        for node in $(ls /sys/class/hidraw 2>/dev/null); do
            grep -qx "$node" <<<"$before" && continue
            grep -qix "HID_ID=0003:0000$VID:0000$PID" "/sys/class/hidraw/$node/device/uevent" || continue
            [ -c "/dev/$node" ] && NODE=$node && return 0
        done
        return 1
    }
    if ! until_true 20 new_node; then
        problem "no hidraw node for the emulated receiver: $(cat "$RLOG")"
        kill "$RECEIVER" 2>/dev/null
        return 1
    fi
    udevadm settle --timeout=30
}
stop_receiver() {
    kill "$RECEIVER" 2>/dev/null
    wait "$RECEIVER" 2>/dev/null
    until_true 20 test ! -e "/dev/$NODE" || problem "/dev/$NODE stayed after its receiver went"
}
receiver_path() { echo "/dev/$NODE#col03"; }
# The node as udev left it: "owner:group mode", the users its ACL names, whether it is tagged.
node_access() {
    local users
    users=$(getfacl -cp "/dev/$1" 2>/dev/null | sed -n 's/^user:\([^:]\+\):.*/\1/p' | tr '\n' ' ')
    echo "$(stat -c '%U:%G %a' "/dev/$1") acl-users:[${users% }] uaccess:$(udevadm info -q property "/dev/$1" |
        grep -q '^CURRENT_TAGS=.*:uaccess:' && echo yes || echo no)"
}
polls_begun() { grep -q ' poll 1: ' "$RLOG"; }
ended_with_end() { [[ $(frames "$RLOG") =~ ^begin-mouse,poll(\*[0-9]+)?,end$ ]]; }

# The runs the service did, as the checks expect to find them in its journal.
expected_runs=()
expect_run() { expected_runs+=("$*"); }

# --- the service ---------------------------------------------------------------------------------
service_pid() { systemctl show -p MainPID --value "$unit"; }
bus_owner_pid() {
    busctl --system call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus \
        GetConnectionUnixProcessID s org.bondara.Pairing1 2>/dev/null | awk '{ print $2 }'
}

echo "--- Debian $release, $(uname -r), up $(cut -d' ' -f1 /proc/uptime) s"
echo "admin:$admin_password" | chpasswd

# --- 0. the machine: the package installed from the local repository, both sessions up -----------
say "0. the package, with apt, from the local repository, while the logins come up"
# Nothing of the install waits for the sessions, nor they for it.
started=$(now_ms)
apt install -y "$deb" >"$out/install.log" 2>&1 &
installer=$!

wait_ready() { [ -s "/home/$1/checks/ready" ]; }
for user in front behind; do
    until_true 120 wait_ready "$user" || problem "$user's login session never started its agent"
done
chvt 1
front_session=$(session_of "$(cat /home/front/checks/ready)")
behind_session=$(session_of "$(cat /home/behind/checks/ready)")
facts() { echo "$(session_property "$1" Name) $(session_property "$1" TTY) $(session_property "$1" Seat) active=$(session_property "$1" Active) remote=$(session_property "$1" Remote)"; }
[ "$(facts "$front_session")" = "front tty1 seat0 active=yes remote=no" ] ||
    problem "the tty1 session ($front_session): $(facts "$front_session")"
[ "$(facts "$behind_session")" = "behind tty2 seat0 active=no remote=no" ] ||
    problem "the tty2 session ($behind_session): $(facts "$behind_session")"
verdict "logged in: front on tty1, the active local session ($front_session); behind on tty2, inactive ($behind_session)"

wait "$installer"
code=$?
[ $code -eq 0 ] || problem "apt install exited $code: $(tail -n 20 "$out/install.log")"
[ "$(dpkg-query -W -f='${Version}' bondara 2>/dev/null)" = "$(dpkg-deb -f "$deb" Version)" ] || problem "bondara is not installed"
grep -Eq 'https?://' "$out/install.log" && problem "apt went to the network: $(grep -E 'https?://' "$out/install.log" | head -n 3)"
verdict "apt install ./$(basename "$deb"): $(grep -c '^Setting up ' "$out/install.log") packages set up from the local repository, no network ($(($(now_ms) - started)) ms)"

# As an administrator adds a receiver: the emulated one's entry, in the package's catalogue.
install_catalogue() { install -m 644 "$lib/DeviceConfig.json" /etc/bondara/DeviceConfig.json; }
install_catalogue
# A network device of the machine's own, which the service must not see.
ip link add bondara0 type dummy && ip link set bondara0 up || problem "no dummy network device: $(ip link 2>&1)"

# --- 1. the active local session pairs without a password --------------------------------------------
say "1. the tty1 user pairs a mouse through the service"
rules=$(grep -rlis bondara /etc/polkit-1/rules.d /usr/share/polkit-1/rules.d)
[ -z "$rules" ] || problem "polkit rules naming the package: $rules"
udev_rules=$(grep -rlisE "bondara|1209.*5a01" /etc/udev/rules.d /usr/lib/udev/rules.d 2>/dev/null)
[ -z "$udev_rules" ] || problem "udev rules naming the receiver: $udev_rules"
if start_receiver pair --pair-after 4; then
    access=$(node_access "$NODE")
    [ "$access" = "root:root 600 acl-users:[] uaccess:no" ] || problem "the node is open to others: $access"
    session_start front 'exec bondara-cli pair mouse'
    cli=$JOB_PID
    if until_true 30 grep -q ' begin mouse' "$RLOG"; then
        [ "$(session_of "$cli")" = "$front_session" ] ||
            problem "bondara-cli ($cli, $(cat "/proc/$cli/comm" 2>/dev/null)) is in session $(session_of "$cli"), not $front_session"
        main=$(service_pid)
        state=$(systemctl show -p ActiveState --value "$unit")
        [ "$state" = active ] && [ "$main" -gt 0 ] || problem "the unit is $state, main PID $main, during the run"
        [ "$(bus_owner_pid)" = "$main" ] || problem "the bus name is held by $(bus_owner_pid), the unit's main PID is $main"
        [ "$(readlink "/proc/$main/exe")" = /usr/lib/bondara/bondara-pairingd ] ||
            problem "the unit runs $(readlink "/proc/$main/exe")"
        grep -qx "0::/system.slice/$unit" "/proc/$main/cgroup" || problem "the service's cgroup: $(cat "/proc/$main/cgroup")"
    else
        problem "the receiver never got the begin command"
    fi
    session_wait 60
    code=$?
    stop_receiver
    [ $code -eq 0 ] || problem "bondara-cli pair mouse exited $code: $(cat "$JOB.out" "$JOB.err")"
    grep -qx "Matched successfully" "$JOB.out" || problem "no \"Matched successfully\": $(cat "$JOB.out")"
    got=$(frames "$RLOG")
    [ "$got" = "begin-mouse,poll*5,end" ] || problem "frames $got, expected begin-mouse,poll*5,end"
    check_gaps "$RLOG" 5 >/dev/null
    fetches_match "$RLOG" || problem "not one fetch of report 0xBA per command"
    expect_run "1000 mouse $(receiver_path) paired"
fi
journalctl -b -o cat _COMM=dbus-daemon >"$out/dbus.log"
grep -q "Activating via systemd: service name='org.bondara.Pairing1' unit='$unit'" "$out/dbus.log" ||
    problem "the bus did not ask systemd for $unit: $(grep Pairing1 "$out/dbus.log")"
grep "org.bondara.Pairing1" "$out/dbus.log" | grep -q servicehelper && problem "the bus started the service through its setuid helper"
verdict "the tty1 user, in its session, pairs a receiver whose node is root:root 0600 with no ACL: begin, 5 polls ~350 ms apart, end, exit 0; the service run by systemd as $unit"

# --- 2. the sandbox, on the running service; 5. Ctrl+C ----------------------------------------------
say "2. the service's sandbox, while it pairs"
# probe_open PATH MODE [JOIN]: opens PATH (MODE "<" or "<>") in the service's mount namespace,
# from the service's own cgroup when JOIN is given; prints "ok" or the error.
# The device policy is a BPF program that systemd attaches to the unit's cgroup, so the probe
# joins that very cgroup: a "systemd-run -p DevicePolicy=..." unit would get a cgroup and a
# program of its own, made from its own properties, and prove nothing about this unit's.
probe_open() {
    local join=""
    [ $# -lt 3 ] || join=/sys/fs/cgroup/system.slice/$unit/cgroup.procs
    bash -c '
        [ -z "$4" ] || echo $$ >"$4" || exit 1
        exec nsenter -t "$1" -m -- bash -c "exec 3$3\"\$1\" && echo ok" _ "$2" 2>&1' _ "$main" "$1" "$2" "$join" |
        sed 's/.*: //'
}
# in_service_mounts COMMAND...: the command as root in the service's mount namespace.
in_service_mounts() { nsenter -t "$main" -m -- "$@"; }
expected_protections=(
    CapabilityBoundingSet= NoNewPrivileges=yes DevicePolicy=closed PrivateNetwork=yes PrivateUsers=yes
    ProtectSystem=strict ProtectHome=yes PrivateTmp=yes PrivateDevices=no PrivateIPC=yes PrivateMounts=yes
    ProtectKernelTunables=yes ProtectKernelModules=yes ProtectKernelLogs=yes ProtectControlGroups=yes
    ProtectClock=yes ProtectHostname=yes ProtectProc=invisible ProcSubset=pid RestrictRealtime=yes
    RestrictSUIDSGID=yes LockPersonality=yes MemoryDenyWriteExecute=yes
)
if start_receiver sandbox --pair-after never; then
    session_start front 'exec bondara-cli pair mouse'
    cli=$JOB_PID
    if until_true 30 polls_begun; then
        main=$(service_pid)
        status=$(cat "/proc/$main/status")
        for field in "CapEff:	0000000000000000" "CapPrm:	0000000000000000" "NoNewPrivs:	1" "Seccomp:	2"; do
            grep -qx "$field" <<<"$status" || problem "/proc/$main/status: $(grep "^${field%%:*}:" <<<"$status"), expected $field"
        done
        # Each row: PATH, and whether the service may write there (yes), not (ro) or see it (absent).
        for row in "/usr ro" "/etc ro" "/usr/lib/bondara ro" "/home/front absent" "/tmp yes"; do
            read -r path want <<<"$row"
            if [ "$want" = absent ]; then
                in_service_mounts test -e "$path/.bash_profile" && problem "$path/.bash_profile is visible to the service"
                [ -e "$path/.bash_profile" ] || problem "$path/.bash_profile is missing outside the service too"
            elif in_service_mounts touch "$path/.bondara-probe" 2>/dev/null; then
                in_service_mounts rm -f "$path/.bondara-probe"
                [ "$want" = yes ] || problem "the service can write to $path"
            else
                [ "$want" = ro ] || problem "the service cannot write to $path"
            fi
        done
        [ "$(readlink "/proc/$main/ns/net")" != "$(readlink /proc/1/ns/net)" ] || problem "the service shares the machine's network namespace"
        interfaces=$(awk -F: 'NR > 2 { gsub(/ /, "", $1); print $1 }' "/proc/$main/net/dev" | tr '\n' ' ')
        [ "$interfaces" = "lo " ] || problem "the service sees the network interfaces $interfaces"
        grep -q bondara0 /proc/net/dev || problem "the machine's own dummy interface is missing"
        # Each row: PATH, open mode, whether from the unit's cgroup, what the open gives.
        for row in "/dev/vda < no ok" "/dev/vda < yes Operation not permitted" "/dev/uhid < yes Operation not permitted" \
            "/dev/$NODE <> yes ok" "/dev/null <> yes ok"; do
            read -r path mode join want <<<"$row"
            if [ "$join" = yes ]; then got=$(probe_open "$path" "$mode" join); else got=$(probe_open "$path" "$mode"); fi
            [ "$got" = "$want" ] || problem "opening $path ($mode) $([ "$join" = yes ] && echo "from the unit's cgroup" || echo "from outside it"): $got, expected $want"
        done
        shown=$(systemctl show "$unit" $(printf -- '-p %s ' "${expected_protections[@]%%=*}"))
        for protection in "${expected_protections[@]}"; do
            grep -qxF "$protection" <<<"$shown" || problem "$protection, but $(grep "^${protection%%=*}=" <<<"$shown")"
        done
        systemd-analyze security "$unit" >"$out/security.txt" 2>&1
        exposure=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' "$out/security.txt")
        say "systemd-analyze security $unit: ${exposure:-no score}"
        # Measured with systemd 252 and 257 alike; what remains is root, the hidraw nodes and AF_UNIX.
        [ "$exposure" = 0.7 ] || problem "exposure ${exposure:-unknown}, expected 0.7: $(grep '✗' "$out/security.txt")"
        verdict "the running service: no capabilities, NoNewPrivs, seccomp; /usr and /etc read-only, /home hidden; loopback only; /dev/vda and /dev/uhid refused (EPERM) from its cgroup, hidraw opens; the protections set; exposure $exposure"

        say "5. Ctrl+C to bondara-cli pair mid-run"
        kill -INT "$cli"
        session_wait 20
        code=$?
        [ $code -eq 130 ] || problem "bondara-cli stopped by SIGINT exited $code, expected 130"
        grep -qx "Pairing stopped" "$JOB.out" || problem "no \"Pairing stopped\": $(cat "$JOB.out")"
        until_true 10 ended_with_end || problem "frames $(frames "$RLOG"), expected the end command last"
        expect_run "1000 mouse $(receiver_path) stopped (stopped by its caller)"
        verdict "Ctrl+C on bondara-cli pair mid-run: the end command is the last report, exit 130"
    else
        problem "the receiver was never polled: $(cat "$JOB.out" "$JOB.err")"
        verdict "the running service's sandbox"
    fi
    stop_receiver
fi

# stopped_mid_run WHAT HOW WHY: a run that never pairs, ended once polled by the shell text HOW
# ($cli is the caller's process); the end command must be the last report, and the service's
# journal give WHY for the stop. A caller still there is told "Pairing stopped".
stopped_mid_run() {
    local what=$1 how=$2 why=$3 ended=""
    say "5. $what"
    if start_receiver stop --pair-after never; then
        session_start front 'exec bondara-cli pair mouse'
        cli=$JOB_PID
        if until_true 30 polls_begun; then
            eval "$how"
            until_true 15 ended_with_end || problem "frames $(frames "$RLOG"), expected the end command last"
            session_wait 20
            ended="; bondara-cli then exited $?"
            [ "$why" != "the service is stopping" ] || grep -qx "Pairing stopped" "$JOB.out" ||
                problem "the caller was not told \"Pairing stopped\": $(cat "$JOB.out" "$JOB.err")"
        else
            problem "the receiver was never polled"
        fi
        stop_receiver
        expect_run "1000 mouse $(receiver_path) stopped ($why)"
    fi
    verdict "$what: the end command is the last report the receiver gets$ended"
}
stopped_mid_run "the caller killed mid-run" 'kill -KILL "$cli"' "its caller went away"
stopped_mid_run "systemctl stop $unit mid-run" 'systemctl stop "$unit"' "the service is stopping"

# --- 3. everyone else is asked for an administrator -----------------------------------------------
# outside USER LOG COMMAND...: the command as USER, started from here: no session, no terminal.
outside() {
    local user=$1 log=$2
    shift 2
    runuser -u "$user" -- env -i PATH=/usr/bin:/bin LANG=C.UTF-8 HOME="/home/$user" "$@" </dev/null >"$log" 2>&1
}
# ask_on_terminal USER LOG [ARGS...]: bondara-cli pair mouse ARGS as USER on a terminal of its
# own (script), where it starts polkit's text agent; returns once the agent asks for a password,
# with TERMINAL the terminal's process and its keyboard on descriptor 7. Fails when none is asked.
ask_on_terminal() {
    local user=$1 log=$2 fifo=$out/terminal-input-$1
    shift 2
    rm -f "$fifo"
    mkfifo "$fifo"
    runuser -u "$user" -- env -i PATH=/usr/bin:/bin LANG=C.UTF-8 HOME="/home/$user" TERM=linux \
        timeout 150 script -qec "bondara-cli pair mouse $*" /dev/null <"$fifo" >"$log" 2>&1 &
    TERMINAL=$! TERMINAL_USER=$user
    exec 7>"$fifo"
    if ! wait_log "$log" 'Password:' 60; then
        problem "no password was asked on $user's terminal: $(cat "$log")"
        hang_up
        return 1
    fi
    local cli
    cli=$(pgrep -u "$user" -x bondara-cli | head -n 1)
    [ "$(session_of "$cli")" = none ] || problem "$user's bondara-cli is in session $(session_of "$cli")"
}
# answer_terminal PASSWORD: types PASSWORD at the prompt; the terminal's exit status.
answer_terminal() {
    printf '%s\n' "$1" >&7
    exec 7>&-
    wait "$TERMINAL"
}
# hang_up: the terminal goes, with the program on it. The program goes first: its going is what
# the service then sees, rather than the agent's failing for want of an answer.
hang_up() {
    pkill -KILL -u "$TERMINAL_USER" -x bondara-cli
    exec 7>&-
    kill "$TERMINAL" 2>/dev/null
    wait "$TERMINAL" 2>/dev/null
}
# on_terminal USER LOG PASSWORD: bondara-cli pair mouse as USER, PASSWORD typed at the agent's
# prompt; its exit status (99 when nothing was asked).
on_terminal() {
    ask_on_terminal "$1" "$2" || return 99
    answer_terminal "$3"
}
refused() { # refused LOG CODE: the request was refused as not authorised and nothing was sent
    [ "$2" -eq 2 ] || problem "exit $2, expected 2: $(cat "$1")"
    grep -q "Matched failed: pairing was not authorised for this user" "$1" ||
        problem "no \"pairing was not authorised\": $(cat "$1")"
    [ ! -s "$RLOG.since" ] || [ "$(wc -l <"$RLOG")" -eq "$(cat "$RLOG.since")" ] ||
        problem "the receiver saw $(($(wc -l <"$RLOG") - $(cat "$RLOG.since"))) events: $(tail -n +"$(($(cat "$RLOG.since") + 1))" "$RLOG")"
}
mark_receiver() { wc -l <"$RLOG" >"$RLOG.since"; }

say "3. admin, in group sudo, pairs with its password on polkit's text agent"
if start_receiver admin --pair-after 2; then
    on_terminal admin "$out/admin.log" "$admin_password"
    code=$?
    stop_receiver
    [ $code -eq 0 ] || problem "exit $code: $(cat "$out/admin.log")"
    grep -q "AUTHENTICATING FOR org.bondara.pair" "$out/admin.log" || problem "polkit's agent did not ask: $(cat "$out/admin.log")"
    grep -q "Matched successfully" "$out/admin.log" || problem "no \"Matched successfully\": $(cat "$out/admin.log")"
    [ "$(frames "$RLOG")" = "begin-mouse,poll*3,end" ] || problem "frames $(frames "$RLOG"), expected begin-mouse,poll*3,end"
    expect_run "1001 mouse $(receiver_path) paired"
fi
verdict "admin, outside any session, is asked for its password by polkit's text agent and pairs with it"

if start_receiver refused --pair-after 0; then
    say "3. stranger, no session, no agent"
    mark_receiver
    outside stranger "$out/stranger.log" bondara-cli pair mouse
    refused "$out/stranger.log" $?
    expect_run "1002 refused NotAuthorized"
    verdict "stranger, outside any session and with no agent, is refused as not authorised (exit 2); the receiver sees nothing"

    say "3. stranger, on a terminal, with a wrong password"
    mark_receiver
    on_terminal stranger "$out/stranger-agent.log" not-the-password
    code=$?
    grep -q "AUTHENTICATING FOR org.bondara.pair" "$out/stranger-agent.log" &&
        grep -q "Authenticating as: admin" "$out/stranger-agent.log" ||
        problem "polkit's agent did not ask for the administrator: $(cat "$out/stranger-agent.log")"
    refused "$out/stranger-agent.log" $code
    expect_run "1002 refused NotAuthorized"
    verdict "stranger, asked for the administrator's password on the text agent, gives a wrong one: refused (exit 2), nothing sent"

    say "3. behind, in the inactive session on tty2"
    mark_receiver
    session_start behind 'exec bondara-cli pair mouse'
    [ "$(job_session)" = "$behind_session" ] || problem "behind's bondara-cli is in session $(job_session)"
    [ "$(session_property "$behind_session" Active)" = no ] || problem "the tty2 session is active"
    session_wait 60
    refused "$JOB.out" $?
    expect_run "1003 refused NotAuthorized"
    verdict "behind, in the inactive session on tty2, is refused the same way"
    stop_receiver
fi

# --- 4. the window ----------------------------------------------------------------------------------
say "4. the window, started by the tty1 user under Xvfb"
if start_receiver window --pair-after 3; then
    session_start front "
        source $lib/testlib.sh
        source $lib/xvfb.sh
        export QT_MESSAGE_PATTERN='%{type}: %{message}'
        start_xvfb 120 -screen 0 1280x800x24 -noreset || exit 90
        bondara -v -en >\$HOME/checks/window.log 2>&1 &
        app=\$!
        log=\$HOME/checks/window.log
        step() { echo \"\$1\"; wait_log \"\$log\" \"\$2\" \"\$3\" || { echo \"not seen: \$2\"; kill \$app; stop_xvfb; exit 91; }; }
        timeout 120 xdotool search --sync --onlyvisible --classname bondara >/dev/null || { echo 'no window'; exit 92; }
        step connected '^debug: status: 1' 120
        # Mouse connect, then Matching code, as tests/e2e clicks them; under emulation the page
        # may come later than a click, so Matching code is clicked until the button takes it.
        xdotool mousemove 330 154 click 1
        for try in 1 2 3 4 5 6 7 8 9 10; do
            sleep 0.3
            xdotool mousemove 600 570 click 1
            wait_log \"\$log\" '^debug: mCurrentDev: 1' 2 && break
        done
        step working '^debug: status: 2' 30
        step paired '^debug: status: 3' 60
        awk '{ printf \"paired-at %d\\n\", \$1 * 1000 }' /proc/uptime
        kill \$app
        wait \$app
        stop_xvfb"
    session_wait 240
    code=$?
    # The service counts its idle time from the run's end.
    last_request=$(sed -n 's/^paired-at //p' "$JOB.out")
    cp /home/front/checks/window.log "$out/window.log" 2>/dev/null
    [ $code -eq 0 ] || problem "the window's job exited $code: $(cat "$JOB.out" "$JOB.err"; tail -n 20 "$out/window.log")"
    grep -q "no access to the receiver .*; it pairs through the pairing service" "$out/window.log" ||
        problem "the window did not turn to the service: $(grep -i 'access\|service' "$out/window.log" | head)"
    stop_receiver
    got=$(frames "$RLOG")
    [[ $got =~ ^begin-mouse,poll\*4,end$ ]] || problem "frames $got, expected begin-mouse,poll*4,end"
    expect_run "1000 mouse $(receiver_path) paired"
fi
verdict "the installed window, in the tty1 session under Xvfb, shows the receiver connected through the service and pairs it: begin, polls, end"

# --- 6. idle, and the journal -------------------------------------------------------------------------
say "6. the service ends when idle"
inactive() { [ "$(systemctl is-active "$unit")" = inactive ]; }
if until_true 90 inactive; then
    idle=$(($(now_ms) - ${last_request:-0}))
    [ "$idle" -ge 28000 ] && [ "$idle" -le 40000 ] || problem "inactive $idle ms after the last request, expected about 30 s"
else
    problem "the unit is still $(systemctl is-active "$unit") 90 s after the last request"
fi
verdict "the unit is inactive again ${idle:-?} ms after the last request"

# --- 7. the upgrade from the version that shipped the udev rule -------------------------------------------
say "7. an upgrade from 2.0.0, which tagged the receiver uaccess"
old_rule=/usr/lib/udev/rules.d/70-bondara.rules
dpkg --purge bondara >"$out/upgrade.log" 2>&1 && dpkg -i "$old_deb" >>"$out/upgrade.log" 2>&1 &&
    install_catalogue || problem "2.0.0 does not install: $(tail "$out/upgrade.log")"
# What 2.0.0 had a running udev do with its new rule.
udevadm control --reload-rules
if [ -f "$old_rule" ] && start_receiver before-upgrade; then
    before_node=$NODE before_receiver=$RECEIVER
    access=$(node_access "$NODE")
    # The ACL's mask shows as the group's bits.
    [ "$access" = "root:root 660 acl-users:[front] uaccess:yes" ] || problem "under 2.0.0's rule the node is $access"
    apt install -y "$deb" >>"$out/upgrade.log" 2>&1 || problem "the upgrade failed: $(tail "$out/upgrade.log")"
    udevadm settle --timeout=30
    [ "$(dpkg-query -W -f='${Version}' bondara)" = "$(dpkg-deb -f "$deb" Version)" ] || problem "not upgraded"
    [ ! -e "$old_rule" ] || problem "$old_rule is left"
    if start_receiver after-upgrade; then
        access=$(node_access "$NODE")
        [ "$access" = "root:root 600 acl-users:[] uaccess:no" ] || problem "a receiver plugged in after the upgrade is $access"
        stop_receiver
    fi
    observed=$(node_access "$before_node")
    say "observed: the receiver plugged in before the upgrade is now $observed"
    echo "$observed" >"$out/plugged-before-upgrade.txt"
    RECEIVER=$before_receiver NODE=$before_node
    stop_receiver
else
    problem "2.0.0's rule is not there, or no receiver under it: $(ls -l "$old_rule" 2>&1)"
fi
verdict "the upgrade over 2.0.0 removes its rule: a receiver plugged in afterwards is root:root 0600 with no ACL"

# --- 8. the service's rows that need real sessions ------------------------------------------------------
BUSY_WORDS="Matched failed: another program is pairing with the receiver"
one_run() { [[ $(frames "$1") =~ ^begin-mouse,poll(\*[0-9]+)?,end$ ]]; }
# Receivers are saved and restored by name, as start_receiver and stop_receiver use one set.
keep_receiver() { eval "$1=(\"\$RECEIVER\" \"\$RLOG\" \"\$NODE\")"; }
use_receiver() { eval "RECEIVER=\${$1[0]} RLOG=\${$1[1]} NODE=\${$1[2]}"; }

say "8. the tty1 user pairs while another user's password question stays unanswered"
if start_receiver unanswered --pair-after never; then
    if ask_on_terminal stranger "$out/unanswered.log"; then
        session_start front 'exec bondara-cli pair mouse'
        until_true 30 polls_begun && kill -ALRM "$RECEIVER" || problem "the tty1 user's run was never polled"
        session_wait 30
        code=$?
        [ $code -eq 0 ] && grep -qx "Matched successfully" "$JOB.out" ||
            problem "beside the unanswered question the tty1 user's run exited $code: $(cat "$JOB.out" "$JOB.err")"
        # The question is still open once the run has ended.
        grep -q 'Matched' "$out/unanswered.log" && problem "stranger's request was answered: $(cat "$out/unanswered.log")"
        hang_up
        one_run "$RLOG" || problem "frames $(frames "$RLOG"), expected the tty1 user's run alone"
        expect_run "1000 mouse $(receiver_path) paired"
    fi
    stop_receiver
fi
verdict "while stranger's password question goes unanswered, the tty1 user pairs the same receiver"

say "8. two users pair two receivers at once"
if start_receiver first --pair-after never && keep_receiver first && start_receiver second --pair-after never &&
    keep_receiver second; then
    use_receiver first
    session_start front "exec bondara-cli pair mouse --receiver $(receiver_path)"
    front_job=$JOB
    until_true 30 polls_begun || problem "the tty1 user's run on /dev/$NODE was never polled"
    use_receiver second
    if ask_on_terminal admin "$out/second-receiver.log" --receiver "$(receiver_path)"; then
        printf '%s\n' "$admin_password" >&7
        exec 7>&-
        until_true 60 polls_begun || problem "admin's run on /dev/$NODE was never polled"
        use_receiver first
        grep -q ' poll ' "$RLOG" && ! grep -q 'output ba a1 84' "$RLOG" ||
            problem "the tty1 user's run was not going while admin's began: $(frames "$RLOG")"
        kill -ALRM "${first[0]}" "${second[0]}"
        wait "$TERMINAL"
        code=$?
        [ $code -eq 0 ] && grep -q "Matched successfully" "$out/second-receiver.log" ||
            problem "admin's run exited $code: $(cat "$out/second-receiver.log")"
    fi
    JOB=$front_job
    session_wait 30
    code=$?
    [ $code -eq 0 ] && grep -qx "Matched successfully" "$JOB.out" ||
        problem "the tty1 user's run exited $code: $(cat "$JOB.out" "$JOB.err")"
    for name in first second; do
        use_receiver "$name"
        one_run "$RLOG" || problem "/dev/$NODE's frames $(frames "$RLOG"), expected one run"
        [ $name = first ] && expect_run "1000 mouse $(receiver_path) paired" || expect_run "1001 mouse $(receiver_path) paired"
        stop_receiver
    done
fi
verdict "the tty1 user and admin pair two receivers at the same time, each with its own begin and end"

# pair_by WAY LOG: "root" is root's own bondara-cli, which opens the node itself; "service" is
# the tty1 user's, through the service. Sets BY to the process (root) or JOB (service).
pair_by() {
    case $1 in
    root) bondara-cli pair mouse >"$2" 2>&1 & BY=$! ;;
    service) session_start front 'exec bondara-cli pair mouse' && BY=$JOB ;;
    esac
}
# told_by WAY LOG: TOLD is the status and standard output of what pair_by started.
told_by() {
    local code
    case $1 in
    root) wait "$BY"; code=$? ;;
    service) JOB=$BY; session_wait 30; code=$?; cp "$JOB.out" "$2" ;;
    esac
    TOLD="$code $(tr '\n' ' ' <"$2")"
}
# beside FIRST SECOND: FIRST pairs; while it polls, SECOND is told the receiver is busy and
# sends nothing; then a device comes and FIRST pairs it.
beside() {
    say "8. $1 first, then $2, on one receiver"
    start_receiver "beside-$1" --pair-after never || return
    pair_by "$1" "$out/beside-$1-first.log"
    first_by=$BY
    if until_true 30 polls_begun; then
        pair_by "$2" "$out/beside-$1-second.log"
        told_by "$2" "$out/beside-$1-second.log"
        [[ $TOLD =~ ^2\ (.*\ )?"$BUSY_WORDS "$ ]] || problem "$2 beside $1's run: $TOLD, expected 2, $BUSY_WORDS"
        kill -ALRM "$RECEIVER"
    else
        problem "$1's run was never polled"
    fi
    BY=$first_by
    told_by "$1" "$out/beside-$1-first.log"
    [[ $TOLD =~ ^0\ (.*\ )?"Matched successfully "$ ]] || problem "$1's own run: $TOLD"
    one_run "$RLOG" || problem "frames $(frames "$RLOG"), expected $1's run alone"
    [ "$1" = service ] && expect_run "1000 mouse $(receiver_path) paired" ||
        expect_run "1000 mouse $(receiver_path) $BUSY_WORDS"
    stop_receiver
}
beside service root
beside root service
verdict "the service and root's own bondara-cli on one receiver, either first: the second is busy (exit 2) and sends nothing, the first pairs"

# --- 6. the journal, for every run above ------------------------------------------------------------------
# journal_runs: the service's journal, a line for each run as it ended, "UID KIND RECEIVER
# OUTCOME" (paired, "stopped (WHY)", or the failure's words), and for each refusal logged,
# "UID refused ERROR"; a run with a start and no end is "unended".
journal_runs() {
    journalctl -b -o cat -u "$unit" | awk '
    match($0, /pairing [0-9]+ starts: uid [0-9]+, [a-z]+ on [^ ]+ \(/) {
        split(substr($0, RSTART), w, " "); uid = w[5]; sub(/,$/, "", uid)
        run[w[2]] = uid " " w[6] " " w[8]; next
    }
    match($0, /pairing [0-9]+ ends: uid [0-9]+ on [^ ]+: /) {
        split(substr($0, RSTART), w, " "); words = substr($0, RSTART + RLENGTH)
        if (words == "Matched successfully") words = "paired"
        sub(/^Pairing stopped/, "stopped", words)
        print (w[2] in run ? run[w[2]] : w[5] " unstarted " w[7]) " " words; delete run[w[2]]; next
    }
    match($0, /uid [0-9]+ refused \([A-Za-z]+\): /) {
        split(substr($0, RSTART), w, " "); print w[2] " refused " substr(w[4], 2, length(w[4]) - 3)
    }
    END { for (id in run) print run[id] " unended" }' | sort
}
say "6. the service's journal"
journal_runs >"$out/journal-runs.txt"
printf '%s\n' "${expected_runs[@]}" | sort >"$out/expected-runs.txt"
diff "$out/expected-runs.txt" "$out/journal-runs.txt" >"$out/journal-runs.diff" ||
    problem "the journal's runs differ (< expected, > journal): $(cat "$out/journal-runs.diff")"
verdict "journalctl -u $unit holds each of the ${#expected_runs[@]} runs and refusals: who, which receiver, how it ended"

summary
# Where the boot's time went, for a slow run.
systemd-analyze blame >"$out/boot-blame.txt" 2>&1
exec >&- 2>&-
wait "$output"
