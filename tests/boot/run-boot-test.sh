#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The installed package on booted Debian 12 and Debian 13, one after the other: each boots from
# a root tools/setup-bootroot makes once per machine, systemd as PID 1 under qemu, with no
# network. Its disk is made fresh for the run from the cached root and the run's own files
# (the checks, the packages the earlier stages built, the receiver emulator as the hardware,
# the users and their autologins); the guest's checks (guest-checks.sh) install the package
# with apt and use it as its users would, and write their results into the disk, which is read
# here once the machine is off. Run as root.
# Usage: run-boot-test.sh OUT_DIR EMULATOR RELEASE=PACKAGE_DIR...
#   EMULATOR      the plain build's tests/vm/uhid-receiver
#   PACKAGE_DIR   where that release's bondara_<version>~deb<RELEASE>u1_<arch>.deb is
# BONDARA_BOOT_TIMEOUT (seconds, default 600) bounds each machine's run.
# Ends with "N passed, M failed"; exits 0 only when all pass.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$root/tools/testlib.sh"
time_limit=${BONDARA_BOOT_TIMEOUT:-600}

if [ $# -lt 3 ]; then
    echo "usage: $0 OUT_DIR EMULATOR RELEASE=PACKAGE_DIR..." >&2
    exit 2
fi
out=$(realpath -m "$1")
emulator=$2
shift 2
note() { echo "boot test: $*"; }
if [ "$(id -u)" -ne 0 ]; then
    fail "the stage needs root, for the roots, the overlay and the disk images"
    summary
    exit 1
fi
missing=""
# mmdebstrap comes on demand (below); these with tools/setup.
for tool in qemu-system-x86_64 mke2fs debugfs unshare; do
    command -v "$tool" >/dev/null || missing="$missing $tool"
done
if [ -n "$missing" ]; then
    fail "missing:$missing (tools/setup installs qemu-system-x86 and e2fsprogs)"
    summary
    exit 1
fi
mkdir -p "$out"
exec 9>"$out/lock"
flock -n 9 || { fail "another run is using $out"; summary; exit 1; }

# The checks' own files, the same for both releases.
guest_files=("$here/guest-checks.sh" "$here/session-agent.sh" "$root/tools/testlib.sh" "$root/tools/xvfb.sh"
    "$root/tests/vm/receiver-log.sh" "$root/tests/vm/DeviceConfig.json" "$emulator")
for file in "${guest_files[@]}"; do
    [ -f "$file" ] || { fail "$file is missing (the emulator: build the plain tree first)"; summary; exit 1; }
done

# stage_files RELEASE DEB STAGE: the run's own files, in a tree laid over the root.
stage_files() {
    local release=$1 deb=$2 stage=$3 lib=$3/usr/local/lib/bondara-checks units=$3/etc/systemd/system user
    install -d "$lib/packages" "$stage/var/lib/bondara-checks" "$units/multi-user.target.wants" \
        "$units/getty.target.wants"
    install -m 755 "$here/guest-checks.sh" "$here/session-agent.sh" "$emulator" "$lib/"
    install -m 644 "$root/tools/testlib.sh" "$root/tools/xvfb.sh" "$root/tests/vm/receiver-log.sh" \
        "$root/tests/vm/DeviceConfig.json" "$lib/"
    install -m 644 "$deb" "$lib/packages/"
    # 2.0.0 as it was laid out: with the rule that gave the seat's user the receivers' nodes.
    # The emulated receiver has no USB parent to match by idVendor, so its line names its HID
    # device instead.
    dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/bondara/examples/70-bondara.rules >"$stage/old.rules" &&
        echo "SUBSYSTEM==\"hidraw\", KERNELS==\"0003:1209:5A01.*\", TAG+=\"uaccess\"" >>"$stage/old.rules" &&
        "$root/packaging/repack.sh" "$deb" 2.0.0 "$lib/packages" "$stage/old.rules" /usr/lib/udev/rules.d/70-bondara.rules \
            >/dev/null || return 1
    rm "$stage/old.rules"

    cat >"$units/bondara-checks.service" <<'EOF'
[Unit]
Description=Bondara's checks of the installed package
After=multi-user.target

[Service]
Type=exec
ExecStart=/usr/local/lib/bondara-checks/guest-checks.sh
# However the checks end, the machine goes off and the host reads what they wrote.
ExecStopPost=/usr/bin/systemctl --no-block poweroff
StandardOutput=journal
EOF
    ln -s ../bondara-checks.service "$units/multi-user.target.wants/"
    for user in front:tty1 behind:tty2; do
        install -d "$units/getty@${user#*:}.service.d"
        printf '[Service]\nExecStart=\nExecStart=-/sbin/agetty --autologin %s --noclear %%I $TERM\n' "${user%:*}" \
            >"$units/getty@${user#*:}.service.d/autologin.conf"
    done
    # tty2's login comes up with tty1's, behind it.
    ln -s /usr/lib/systemd/system/getty@.service "$units/getty.target.wants/getty@tty2.service"
    # The serial line carries the checks' progress, not a login.
    ln -s /dev/null "$units/serial-getty@ttyS0.service"
    printf 'bondara-deb%s\n' "$release" >"$stage/etc/hostname"
    printf '%032x\n' "$release" >"$stage/etc/machine-id"
}

# make_image ROOT STAGE IMAGE: ROOT with STAGE over it, and the checks' users, as an ext4 disk;
# in a mount namespace of its own, so the overlay goes with it and ROOT is never written.
make_image() {
    local size
    size=$(($(du -sm --one-file-system "$1" | cut -f1) + 2048))
    rm -f "$3"
    unshare --mount --propagation private -- bash -c '
        set -e
        root=$1 stage=$2 image=$3 size=$4 merged=$2.merged
        mkdir -p "$stage.work" "$merged"
        mount -t overlay bondara-boot -o "lowerdir=$root,upperdir=$stage,workdir=$stage.work" "$merged"
        # The emulator runs on the root'"'"'s own libraries.
        chroot "$merged" /usr/local/lib/bondara-checks/uhid-receiver 2>/dev/null || [ $? -eq 2 ]
        for user in front:1000 admin:1001 stranger:1002 behind:1003; do
            chroot "$merged" useradd -m -u "${user#*:}" -s /bin/bash "${user%:*}"
        done
        chroot "$merged" usermod -a -G sudo admin
        for user in front behind; do
            echo "exec /bin/bash /usr/local/lib/bondara-checks/session-agent.sh" >"$merged/home/$user/.bash_profile"
            chroot "$merged" chown "$user:$user" "/home/$user/.bash_profile"
        done
        mke2fs -q -t ext4 -L bondara -d "$merged" -F "$image" "${size}M"
    ' _ "$1" "$2" "$3" "$size"
}

# run_machine ROOT IMAGE CONSOLE: boots the root's own kernel and initramfs on IMAGE with no
# network, its console on CONSOLE (shown here as it comes), within the time limit.
run_machine() {
    local kernel initrd accel=tcg cpu=max machine shown code
    kernel=$(ls "$1"/boot/vmlinuz-* | sort -V | tail -n 1)
    initrd=$(ls "$1"/boot/initrd.img-* | sort -V | tail -n 1)
    if [ -r /dev/kvm ] && [ -w /dev/kvm ]; then
        accel=kvm cpu=host
    fi
    : >"$3"
    timeout --kill-after=10 "$time_limit" qemu-system-x86_64 -nodefaults -no-user-config -no-reboot \
        -machine pc -accel "$accel" -cpu "$cpu" -smp 2 -m 2048 \
        -kernel "$kernel" -initrd "$initrd" \
        -append "root=/dev/vda rw console=ttyS0 quiet fsck.mode=skip panic=-1" \
        -drive "file=$2,format=raw,if=virtio,cache=unsafe" -vga std -display none -serial "file:$3" \
        2>"$3.qemu" &
    machine=$!
    machine_pid=$machine
    tail -n +1 -f --pid="$machine" "$3" | tr -d '\r' | sed -u 's/^/    | /' &
    shown=$!
    wait "$machine"
    code=$?
    wait "$shown" 2>/dev/null
    [ -s "$3.qemu" ] && sed 's/^/    qemu: /' "$3.qemu" | head -n 20
    return $code
}

# replay FILE PREFIX: the PASS and FAIL lines of a run whose counts were its own, counted here.
replay() {
    local line
    while IFS= read -r line; do
        case $line in
        "PASS: "*) pass "$2${line#PASS: }" ;;
        "FAIL: "*) fail "$2${line#FAIL: }" ;;
        "    "*) echo "$line" ;;
        esac
    done <"$1"
}

# prepare_release RELEASE PACKAGE_DIR: the root and the run's disk; their PASS and FAIL lines on
# standard output, the root's path in $work/root once the disk is ready.
prepare_release() {
    local release=$1 dir=$2 work=$out/debian$1 deb broot began
    deb=$(ls "$dir"/bondara_*~deb"${release}"u1_*.deb 2>/dev/null)
    if [ "$(wc -w <<<"$deb")" -ne 1 ]; then
        fail "one package bondara_*~deb${release}u1 in $dir, found: ${deb:-none} (the earlier stages make it)"
        return
    fi
    began=$SECONDS
    if ! broot=$("$root/tools/setup-bootroot" "$release" "$deb" 2>"$work/setup.log" | tail -n 1) ||
        [ ! -f "$broot/.bondara-complete" ]; then
        fail "tools/setup-bootroot makes the root"
        sed 's/^/    /' "$work/setup.log" | tail -n 30
        return
    fi
    echo "$((SECONDS - began))" >"$work/took-root"
    pass "the root $broot ($(tail -n 1 "$work/setup.log" | sed 's/^setup-bootroot: //'))"

    began=$SECONDS
    if ! stage_files "$release" "$deb" "$work/stage" >"$work/image.log" 2>&1 ||
        ! make_image "$broot" "$work/stage" "$work/disk.img" >>"$work/image.log" 2>&1; then
        fail "the disk is made from the root, the checks, the packages and the emulator"
        sed 's/^/    /' "$work/image.log" | tail -n 30
        return
    fi
    echo "$((SECONDS - began))" >"$work/took-image"
    pass "the disk, $(($(du -m "$work/disk.img" | cut -f1))) MiB, made in $((SECONDS - began)) s"
    echo "$broot" >"$work/root"
}

# boot_release RELEASE: boots the prepared disk and reads the guest's results from it.
boot_release() {
    local release=$1 work=$out/debian$1 broot began code results
    replay "$work/prepare.out" "Debian $release: "
    [ -s "$work/root" ] || return
    broot=$(cat "$work/root")
    began=$SECONDS
    note "booting Debian $release ($([ -w /dev/kvm ] && echo KVM || echo "emulation, no KVM"))"
    run_machine "$broot" "$work/disk.img" "$work/console.log"
    code=$?
    echo "$((SECONDS - began))" >"$work/took-machine"
    if [ $code -eq 124 ] || [ $code -eq 137 ]; then
        fail "Debian $release: the machine was stopped at the time limit of $time_limit s"
    elif [ $code -ne 0 ]; then
        fail "Debian $release: qemu exited $code (console in $work/console.log)"
    fi
    rm -rf "$work/guest"
    mkdir -p "$work/guest"
    # Read as it was left, even by a machine stopped mid-write (-c: the bitmaps are not needed).
    if ! debugfs -c -R "rdump /var/lib/bondara-checks $work/guest" "$work/disk.img" >"$work/debugfs.log" 2>&1 ||
        [ ! -f "$work/guest/bondara-checks/checks.log" ]; then
        fail "Debian $release: the guest's results are read from its disk: $(cat "$work/debugfs.log")"
        return
    fi
    results=$work/guest/bondara-checks/checks.log
    replay "$results" "Debian $release: "
    if ! tail -n 1 "$results" | grep -Eqx '[0-9]+ passed, [0-9]+ failed'; then
        fail "Debian $release: the guest's checks did not end (last line: $(tail -n 1 "$results"))"
    fi
    check "Debian $release: the cached root is unchanged" root_unchanged "$broot"
    note "Debian $release: root $(cat "$work/took-root") s, disk $(cat "$work/took-image") s, machine" \
        "$(cat "$work/took-machine") s ($(sed -n 's/^--- Debian [0-9]*, .*, up \([0-9.]*\) s$/checks began \1 s after boot/p' "$results"))"
}

# A stage stopped by hand takes its machine and the disks being made with it (timeout passes
# the signal on to qemu).
machine_pid=""
trap 'kill -TERM $machine_pid $(jobs -p) 2>/dev/null; exit 130' INT TERM
started=$SECONDS
# Installed once, before the roots are made side by side.
source "$root/tools/rootcache.sh"
rootcache_mmdebstrap >/dev/null || { fail "mmdebstrap cannot be installed"; summary; exit 1; }
# Every release's root and disk are made at once, and each waits only for its own: the next
# disk is made while the machine before it runs.
declare -A preparing=()
for pair in "$@"; do
    release=${pair%%=*}
    rm -rf "$out/debian$release"
    mkdir -p "$out/debian$release"
    prepare_release "$release" "${pair#*=}" >"$out/debian$release/prepare.out" 2>&1 &
    preparing[$release]=$!
done
for pair in "$@"; do
    release=${pair%%=*}
    wait "${preparing[$release]}"
    boot_release "$release"
done
check "no mount or process of the stage is left" bash -c '
    ! grep -F " $1/" /proc/self/mountinfo && ! pgrep -f "qemu-system-x86_64 .*$1/"' _ "$out"
note "whole stage $((SECONDS - started)) s"
summary
