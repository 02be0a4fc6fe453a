#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A system bus and polkit of their own for the service's tests: Debian's
# dbus-daemon --system (its own system.conf, unchanged) and polkitd, run in a
# mount and PID namespace where a private tmpfs stands in for every directory
# they read, and for the user database, so that the machine's bus, policies
# and users are neither seen nor changed, and nothing outlives the run.
#
#   privatebus.sh [--action FILE] [--rules FILE] [--policy FILE] [--service FILE]
#                 [--user NAME] [--logs DIR] -- COMMAND [ARGS...]
#
# Each option may be given more than once. --action: a polkit action file;
# --rules: a polkit rules file (/etc/polkit-1/rules.d); --policy: a bus policy
# (/usr/share/dbus-1/system.d); --service: a bus activation file, named after
# the bus name it provides, with full paths in Exec= (the bus's helper starts
# it with only DBUS_STARTER_* in its environment); --user: a user made inside
# if the machine has none of that name; --logs: where the bus's output, and
# that of the services it starts, goes (default: the private tmpfs).
# COMMAND runs as root inside, once org.freedesktop.PolicyKit1 is on the bus,
# with PRIVATEBUS_LOGS and PRIVATEBUS_UP_SECONDS (how long the bus and polkit
# took to come up) set. Exits with COMMAND's status, or 125 when the bus and
# polkit could not be set up. Sourced, it defines privatebus, which takes the
# same arguments.

privatebus_self=$(realpath "${BASH_SOURCE[0]}")
privatebus() { "$privatebus_self" "$@"; }
[[ ${BASH_SOURCE[0]} != "$0" ]] && return 0

set -uo pipefail
die() {
    echo "privatebus: $*" >&2
    exit 125
}

if [ "${1:-}" != --inside ]; then
    [ "$(id -u)" -eq 0 ] || die "must run as root to make its mount namespace"
    command -v unshare >/dev/null || die "unshare (util-linux) is missing"
    unshare --mount --pid --fork --mount-proc true 2>/dev/null ||
        die "cannot make a mount and PID namespace here (unshare -m -p failed)"
    mountpoint=$(mktemp -d "${TMPDIR:-/tmp}/privatebus.XXXXXX") || die "no temporary directory"
    trap 'rmdir "$mountpoint"' EXIT
    # When the namespace's first process ends, the kernel kills every process
    # left in it; --kill-child ends that process if unshare is killed.
    # unshare itself ignores INT and TERM, so they are passed to that process.
    unshare --mount --propagation private --pid --fork --mount-proc --kill-child \
        -- "$privatebus_self" --inside "$mountpoint" "$@" <&0 &
    child=$!
    trap 'pkill -TERM -P "$child"' INT TERM HUP
    wait "$child"
    code=$?
    while kill -0 "$child" 2>/dev/null; do
        wait "$child"
        code=$?
    done
    exit $code
fi

tree=$2
shift 2
actions=() rules=() policies=() services=() users=() logs=""
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    [ $# -ge 2 ] || die "$1 needs a value"
    case $1 in
    --action) actions+=("$2") ;;
    --rules) rules+=("$2") ;;
    --policy) policies+=("$2") ;;
    --service) services+=("$2") ;;
    --user) users+=("$2") ;;
    --logs) logs=$2 ;;
    *) die "unknown option $1" ;;
    esac
    shift 2
done
[ "${1:-}" = -- ] && shift
[ $# -gt 0 ] || die "no command to run"
started=$EPOCHREALTIME

bus_pid="" polkit_pid="" command_pid=""
# stop PID: TERM, then KILL if it is still there after five seconds.
stop() {
    [ -n "$1" ] && kill -TERM "$1" 2>/dev/null || return 0
    local deadline=$((SECONDS + 5))
    while [ $SECONDS -lt $deadline ] && [ -e "/proc/$1" ] &&
        [ "$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" != Z ]; do
        sleep 0.05
    done
    kill -KILL "$1" 2>/dev/null
    wait "$1" 2>/dev/null
    return 0
}
trap 'stop "$command_pid"; stop "$polkit_pid"; stop "$bus_pid"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mount -t tmpfs -o mode=0755 privatebus "$tree" || die "cannot mount a tmpfs on $tree"
logs=${logs:-$tree/logs}
mkdir -p "$logs" || die "cannot make $logs"
install -d -m 0755 "$tree/run-dbus" "$tree/etc-dbus/system.d" "$tree/dbus/system.d" \
    "$tree/dbus/system-services" "$tree/empty" "$tree/etc" "$tree/polkit/actions"
# polkitd reads its rules as the polkitd user, from directories as Debian makes them.
install -d -m 0700 -o polkitd -g root "$tree/etc-polkit/rules.d" "$tree/polkit/rules.d" ||
    die "cannot make polkit's rules directories (is polkitd installed?)"

# polkit's own pieces as the machine has them: its bus policy, its activation
# file and its default rule (who counts as an administrator).
for file in /usr/share/dbus-1/system.d/org.freedesktop.PolicyKit1.conf \
    /usr/share/dbus-1/system-services/org.freedesktop.PolicyKit1.service \
    /usr/share/polkit-1/rules.d/50-default.rules; do
    [ -f "$file" ] || die "$file is missing: is polkitd installed?"
done
# place DIR FILE...: copies the files, readable by all, into DIR.
place() {
    local dir=$1 file
    shift
    for file; do
        install -m 0644 "$file" "$dir/" || die "cannot place $file"
    done
}
place "$tree/dbus/system.d" /usr/share/dbus-1/system.d/org.freedesktop.PolicyKit1.conf "${policies[@]}"
place "$tree/dbus/system-services" /usr/share/dbus-1/system-services/org.freedesktop.PolicyKit1.service \
    "${services[@]}"
place "$tree/polkit/rules.d" /usr/share/polkit-1/rules.d/50-default.rules
place "$tree/etc-polkit/rules.d" "${rules[@]}"
place "$tree/polkit/actions" "${actions[@]}"

# Users go into private copies of the user database, bound over the
# machine's files below; useradd itself renames files in /etc, which a bind
# mount refuses, hence --prefix.
for file in passwd group shadow gshadow; do
    cp -p "/etc/$file" "$tree/etc/$file" || die "cannot copy /etc/$file"
done
[ -f /etc/login.defs ] && cp -p /etc/login.defs "$tree/etc/"
for user in "${users[@]}"; do
    getent passwd "$user" >/dev/null && continue
    useradd --prefix "$tree" --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin \
        --user-group "$user" || die "cannot add the user $user"
done

# bind SOURCE TARGET
bind() { mount --bind "$1" "$2" || die "cannot bind $1 over $2"; }
bind "$tree/run-dbus" /run/dbus
bind "$tree/etc-dbus" /etc/dbus-1
bind "$tree/dbus/system.d" /usr/share/dbus-1/system.d
bind "$tree/dbus/system-services" /usr/share/dbus-1/system-services
# The other standard activation directories, where the machine has them.
for dir in /usr/local/share/dbus-1/system-services /lib/dbus-1/system-services; do
    [ -d "$dir" ] && [ "$(realpath "$dir")" != /usr/share/dbus-1/system-services ] && bind "$tree/empty" "$dir"
done
bind "$tree/etc-polkit" /etc/polkit-1
bind "$tree/polkit" /usr/share/polkit-1
for file in passwd group shadow gshadow; do
    bind "$tree/etc/$file" "/etc/$file"
done
# A name service cache would answer from the machine's database.
[ -d /run/nscd ] && bind "$tree/empty" /run/nscd

bus_call() { # bus_call METHOD [ARGS...]: a call to the bus itself, the reply's values on stdout.
    local method=$1
    shift
    dbus-send --system --print-reply=literal --reply-timeout=30000 --dest=org.freedesktop.DBus \
        /org/freedesktop/DBus "org.freedesktop.DBus.$method" "$@"
}
log_tail() { tail -n 20 "$logs/dbus-daemon.log" >&2; }

# Debian's system.conf unchanged; it drops to messagebus once listening.
dbus-daemon --system --nofork --nopidfile --nosyslog >"$logs/dbus-daemon.log" 2>&1 &
bus_pid=$!
deadline=$((SECONDS + 20))
until [ -S /run/dbus/system_bus_socket ] && bus_call GetId >/dev/null 2>&1; do
    kill -0 "$bus_pid" 2>/dev/null || { log_tail; die "dbus-daemon --system exited"; }
    [ $SECONDS -lt $deadline ] || { log_tail; die "the system bus did not answer within 20 s"; }
    sleep 0.05
done

# Activated by the bus through its setuid helper, as without systemd; the
# reply comes once polkitd owns its name.
if ! bus_call StartServiceByName string:org.freedesktop.PolicyKit1 uint32:0 >/dev/null; then
    log_tail
    die "the bus could not start polkitd"
fi
polkit_pid=$(bus_call GetConnectionUnixProcessID string:org.freedesktop.PolicyKit1 | awk '{print $2}')
[ -n "$polkit_pid" ] || { log_tail; die "org.freedesktop.PolicyKit1 is not on the bus"; }

export PRIVATEBUS_LOGS=$logs
export PRIVATEBUS_UP_SECONDS
PRIVATEBUS_UP_SECONDS=$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }')
# In the background, so that a signal is acted on at once, not once it ends.
"$@" <&0 &
command_pid=$!
wait "$command_pid"
code=$?
command_pid=""
exit $code
