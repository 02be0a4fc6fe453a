# SPDX-License-Identifier: MIT
# Sourced by the guest's /init: the system bus and polkit, as a system without
# systemd has them. Debian's system.conf unchanged, polkitd and the pairing
# service started by the bus through its setuid launch helper.

BUS_LOG=/tmp/dbus-daemon.log
BUS_PROBLEM=""
HELPER=/usr/lib/dbus-1.0/dbus-daemon-launch-helper
bus_call() { # METHOD [ARGS...]
    method=$1
    shift
    dbus-send --system --print-reply=literal --reply-timeout=30000 --dest=org.freedesktop.DBus \
        /org/freedesktop/DBus "org.freedesktop.DBus.$method" "$@"
}
# start_bus: true once the bus answers and polkitd owns its name; otherwise
# BUS_PROBLEM says why.
start_bus() {
    # What the packages' own scripts set: the helper is root's, run by the
    # bus's group alone; polkit's rules are for polkitd's eyes.
    if ! { chown root:messagebus "$HELPER" && chmod 4754 "$HELPER" &&
        chown polkitd:root /etc/polkit-1/rules.d /usr/share/polkit-1/rules.d &&
        chmod 0700 /etc/polkit-1/rules.d /usr/share/polkit-1/rules.d && mkdir -p /run/dbus; }; then
        BUS_PROBLEM="the bus's launch helper and polkit's rules could not be given their owners"
        return 1
    fi
    dbus-daemon --system --nofork --nopidfile --nosyslog >"$BUS_LOG" 2>&1 &
    bus=$!
    deadline=$(($(now_ms) + 30000))
    until [ -S /run/dbus/system_bus_socket ] && bus_call GetId >/dev/null 2>&1; do
        if ! kill -0 "$bus" 2>/dev/null; then
            BUS_PROBLEM="dbus-daemon --system exited"
            return 1
        elif [ "$(now_ms)" -ge "$deadline" ]; then
            BUS_PROBLEM="the system bus did not answer within 30 s"
            return 1
        fi
        usleep 50000
    done
    # The reply comes once polkitd owns its name.
    if ! bus_call StartServiceByName string:org.freedesktop.PolicyKit1 uint32:0 >/tmp/polkit-start.log 2>&1; then
        BUS_PROBLEM="the bus could not start polkitd: $(cat /tmp/polkit-start.log)"
        return 1
    fi
}
