#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs bondara-cli on the kernel's own HID stack: a virtual machine with Debian's
# kernel boots an initramfs in which an emulated receiver on /dev/uhid answers
# as hardware does, and the guest's checks report on the console. Later
# checks pair through bondara-pairingd, which Debian's system bus starts and
# polkitd authorises, for a user who cannot open the node, also beside root's
# own pairing of the same receiver; then a receiver that never answers and a
# node of as many collections as a descriptor holds.
# Usage: run-vm-test.sh BUILD_DIR WORK_DIR
#   BUILD_DIR  the plain build (bondara-cli, bondara-pairingd and tests/vm/uhid-receiver)
#   WORK_DIR   where the kernel is kept between runs and the initramfs is built
# BONDARA_VM_TIMEOUT (seconds, default 480) bounds the virtual machine's run;
# BONDARA_VM_KVM_WATCHDOG (seconds, default 25): a KVM guest silent that long
# (or qemu reporting a KVM internal error) is stopped and the run falls back to
# emulation;
# BONDARA_VM_VERBOSE=1 shows what every check saw, not only the failing ones.
# Ends with "N passed, M failed" for the guest's checks and the host's replay of
# the guest's recording; exits 0 only when all pass.
set -uo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 BUILD_DIR WORK_DIR" >&2
    exit 2
fi
build=$(cd "$1" 2>/dev/null && pwd) || build=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../tools/testlib.sh"
checks=14
time_limit=${BONDARA_VM_TIMEOUT:-480}
started=$SECONDS

note() { echo "vm test: $*"; }
# Whatever keeps the machine from running fails every check, with the reason.
give_up() {
    note "FAILED: $*"
    echo "0 passed, $((checks + 1)) failed"
    exit 1
}

mkdir -p "$work" || give_up "cannot create $work"
work=$(cd "$work" && pwd)
# Two runs in one directory would share the kernel, the initramfs and the console.
exec 9>"$work/lock"
flock -n 9 || give_up "another run is using $work"

command -v qemu-system-x86_64 >/dev/null ||
    give_up "qemu-system-x86_64 is not installed (tools/setup installs qemu-system-x86)"
[ -x "$build/bondara-cli" ] || give_up "$build/bondara-cli is missing: build $build first"
[ -x "$build/bondara-pairingd" ] || give_up "$build/bondara-pairingd is missing: build $build first"
[ -x "$build/tests/vm/uhid-receiver" ] || give_up "$build/tests/vm/uhid-receiver is missing: build $build first"

# --- the kernel: Debian's own, unpacked here, never installed ----------------------

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    else
        sudo -n "$@"
    fi
}
kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }'
}

kernel_dir="$work/kernel"
stamp="$kernel_dir/package"
apt_log="$work/apt.log"
: >"$apt_log"
# Fetches the kernel that linux-image-amd64 names now, unless it is here already.
fetch_kernel() {
    local package version wanted fresh="$work/kernel.new"
    package=$(kernel_package)
    [ -n "$package" ] || return 1
    version=$(apt-cache policy "$package" 2>/dev/null | awk '/Candidate:/ { print $2; exit }')
    wanted="$package $version"
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$wanted" ]; then
        return 0
    fi
    note "fetching $wanted"
    rm -rf "$fresh"
    mkdir -p "$fresh/deb"
    if ! (cd "$fresh/deb" && apt-get download "$package") >>"$apt_log" 2>&1 ||
        ! dpkg-deb -x "$fresh"/deb/*.deb "$fresh/root" >>"$apt_log" 2>&1; then
        rm -rf "$fresh"
        return 1
    fi
    rm -rf "$fresh/deb" "$kernel_dir"
    echo "$wanted" >"$fresh/package"
    mv "$fresh" "$kernel_dir"
}
if ! fetch_kernel; then
    # Lists that are missing or older than the archive name no package that can be had.
    note "updating the package lists"
    as_root apt-get update >>"$apt_log" 2>&1
    if ! fetch_kernel; then
        sed 's/^/    /' "$apt_log"
        if [ -f "$stamp" ]; then
            note "the current kernel cannot be fetched; using the one fetched before: $(cat "$stamp")"
        else
            give_up "no kernel: linux-image-amd64 cannot be resolved or downloaded (see above)"
        fi
    fi
fi

vmlinuz=$(ls "$kernel_dir"/root/boot/vmlinuz-* 2>/dev/null | head -n 1)
modules=$(ls -d "$kernel_dir"/root/lib/modules/* 2>/dev/null | head -n 1)
[ -n "$vmlinuz" ] && [ -n "$modules" ] || give_up "the unpacked kernel in $kernel_dir has no vmlinuz or modules"

# Decompressed once, the kernel boots through its PVH entry and skips the
# decompression, which is slow under emulation; the compressed image still boots.
boot_image=$vmlinuz
vmlinux="$kernel_dir/vmlinux"
if [ ! -s "$vmlinux" ]; then
    offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$vmlinuz" 2>/dev/null | head -n 1 | cut -d: -f1)
    # xz stops at the end of its stream, with the rest of the image unread.
    if [ -n "$offset" ] && xz -dc --single-stream <(tail -c +"$((offset + 1))" "$vmlinuz") >"$vmlinux.tmp" 2>/dev/null &&
        [ "$(head -c 4 "$vmlinux.tmp" | od -An -c | tr -d ' ')" = '177ELF' ]; then
        mv "$vmlinux.tmp" "$vmlinux"
    else
        rm -f "$vmlinux.tmp"
    fi
fi
[ -s "$vmlinux" ] && boot_image=$vmlinux

# --- the initramfs, from this build --------------------------------------------------

initrd="$work/initramfs.cpio"
"$here/make-initramfs.sh" "$build" "$modules" "$initrd" || give_up "cannot build the initramfs"
note "kernel $(basename "$modules") ($(basename "$boot_image")), initramfs $(($(stat -c %s "$initrd") / 1048576)) MiB, ready after $((SECONDS - started)) s"

# --- the machine ---------------------------------------------------------------------

console="$work/console.log"
qemu_log="$work/qemu.log"
# A broken KVM ("KVM internal error ... emulation failure") leaves qemu paused,
# not exited: without a watchdog the stage would wait out its whole time limit.
kvm_watchdog=${BONDARA_VM_KVM_WATCHDOG:-25}
stopped_by_watchdog=""
run_machine() { # ACCELERATOR CPU [WATCHDOG_SECONDS]
    local watchdog=${3:-0}
    : >"$console"
    : >"$qemu_log"
    stopped_by_watchdog=""
    timeout --kill-after=10 "$time_limit" qemu-system-x86_64 \
        -nodefaults -no-user-config -display none -no-reboot \
        -machine pc -accel "$1" -cpu "$2" -smp 2 -m 1024 \
        -kernel "$boot_image" -initrd "$initrd" \
        -append "console=ttyS0 quiet panic=-1${BONDARA_VM_VERBOSE:+ bondara.verbose}" \
        -serial "file:$console" 2>"$qemu_log" &
    local machine=$!
    tail -n +1 -f --pid="$machine" "$console" | tr -d '\r' &
    local shown=$!
    if [ "$watchdog" -gt 0 ]; then
        # The guest's first line, qemu's own report of an internal error, or the deadline.
        local deadline=$((SECONDS + watchdog))
        while kill -0 "$machine" 2>/dev/null; do
            grep -q '^VMTEST: start' "$console" && break
            if grep -q 'KVM internal error\|emulation failure' "$qemu_log"; then
                stopped_by_watchdog="qemu reported a KVM internal error"
            elif [ $SECONDS -ge $deadline ]; then
                stopped_by_watchdog="no line from the guest within $watchdog s"
            fi
            if [ -n "$stopped_by_watchdog" ]; then
                kill "$machine" 2>/dev/null
                break
            fi
            sleep 0.2
        done
    fi
    wait "$machine"
    local rc=$?
    wait "$shown" 2>/dev/null
    [ -s "$qemu_log" ] && sed 's/^/    qemu: /' "$qemu_log" | head -n 20
    return $rc
}

# A console left by an earlier run must never count for this one.
rm -f "$console"
booted=$SECONDS
machine_rc=1
guest_started=false
if [ -r /dev/kvm ] && [ -w /dev/kvm ]; then
    note "booting with KVM"
    kvm_began=$SECONDS
    run_machine kvm host "$kvm_watchdog"
    machine_rc=$?
    if grep -q '^VMTEST: start' "$console"; then
        guest_started=true
    elif [ -n "$stopped_by_watchdog" ]; then
        note "KVM is broken here ($stopped_by_watchdog); stopped it after $((SECONDS - kvm_began)) s, trying again under emulation"
    else
        note "KVM did not boot the guest (qemu exit $machine_rc after $((SECONDS - kvm_began)) s); trying again under emulation"
    fi
fi
if ! $guest_started; then
    note "booting under emulation (TCG)"
    run_machine tcg max
    machine_rc=$?
fi

# --- the verdict: only the guest's own lines count -----------------------------------

results=$(tr -d '\r' <"$console")
passed=0
failed=0
for n in $(seq 1 "$checks"); do
    line=$(grep -m 1 "^VMTEST: check $n \(pass\|fail\) " <<<"$results")
    line=${line#VMTEST: }
    if [ "${line#check $n pass}" != "$line" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
    fi
    note "${line:-check $n fail - no result from the guest}"
done
# The guest's recording, replayed here: the same result and the same frames.
replay_problem=""
sed -n 's/^VMTEST: record-file //p' <<<"$results" >"$work/session.json"
recorded_result=$(sed -n 's/^VMTEST: record-result //p' <<<"$results" | head -n 1)
recorded_frames=$(sed -n 's/^VMTEST: record-frames //p' <<<"$results" | head -n 1)
if [ ! -s "$work/session.json" ]; then
    replay_problem="the guest handed over no recording"
else
    : >"$work/replay-trace.txt"
    replayed=$(BONDARA_SIMULATE="$work/session.json" BONDARA_SIMULATE_TRACE="$work/replay-trace.txt" \
        "$build/bondara-cli" pair keyboard --config "$here/DeviceConfig.json" 2>"$work/replay.err")
    rc=$?
    replayed_frames=$(trace_frames "$work/replay-trace.txt")
    if [ $rc -ne 0 ]; then
        replay_problem="the replay exited $rc, expected 0"
    elif [ "$(tail -n 1 <<<"$replayed")" != "$recorded_result" ]; then
        replay_problem="the replay ended \"$(tail -n 1 <<<"$replayed")\", the recording \"$recorded_result\""
    elif [ "$replayed_frames" != "$recorded_frames" ]; then
        replay_problem="the replay sent $replayed_frames, the receiver saw $recorded_frames"
    elif grep -q "^bondara-cli: replay:\|departs" "$work/replay.err"; then
        replay_problem="the replay departed from the recording: $(grep -m 1 departs "$work/replay.err")"
    fi
fi
if [ -z "$replay_problem" ]; then
    passed=$((passed + 1))
    note "replay pass - the guest's recording replayed on the host: $recorded_result, $recorded_frames"
else
    failed=$((failed + 1))
    note "replay fail - $replay_problem"
fi
if ! grep -q '^VMTEST: end' <<<"$results"; then
    if [ "$machine_rc" -eq 124 ] || [ "$machine_rc" -eq 137 ]; then
        note "the machine was stopped at the time limit of $time_limit s"
    elif ! grep -q '^VMTEST: start' <<<"$results"; then
        note "the guest never started its checks (qemu exit $machine_rc); console in $console"
    else
        note "the guest stopped before its last check (qemu exit $machine_rc); console in $console"
    fi
fi
note "machine $((SECONDS - booted)) s, whole stage $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
