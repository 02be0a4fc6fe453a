#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the guest's initramfs: busybox, bondara-cli with the guest catalogue,
# the receiver emulator, the pairing service with Debian's system bus and
# polkitd (as a system without systemd starts them), their shared libraries
# and the kernel modules for uhid and hid-generic.
# Usage: make-initramfs.sh BUILD_DIR MODULES_DIR OUTPUT.cpio
#   BUILD_DIR    the plain build (bondara-cli, bondara-pairingd, tests/vm/uhid-receiver)
#   MODULES_DIR  the unpacked kernel's lib/modules/VERSION
set -euo pipefail

if [ $# -ne 3 ]; then
    echo "usage: $0 BUILD_DIR MODULES_DIR OUTPUT.cpio" >&2
    exit 2
fi
build=$1
modules=$2
output=$3
here=$(cd "$(dirname "$0")" && pwd)
source=$here/../..

cli="$build/bondara-cli"
service="$build/bondara-pairingd"
emulator="$build/tests/vm/uhid-receiver"
busybox=/bin/busybox
for file in "$cli" "$service" "$emulator"; do
    if [ ! -x "$file" ]; then
        echo "make-initramfs: $file is missing: build $build first" >&2
        exit 1
    fi
done
# The machine's own bus and polkit, at the paths their configuration names.
system_programs=(/usr/bin/dbus-daemon /usr/bin/dbus-send /usr/lib/dbus-1.0/dbus-daemon-launch-helper
    /usr/lib/polkit-1/polkitd)
system_files=(/usr/share/dbus-1/system.conf /usr/share/dbus-1/system.d/org.freedesktop.PolicyKit1.conf
    /usr/share/dbus-1/system-services/org.freedesktop.PolicyKit1.service
    /usr/share/polkit-1/rules.d/50-default.rules)
for file in "${system_programs[@]}" "${system_files[@]}"; do
    if [ ! -e "$file" ]; then
        echo "make-initramfs: $file is missing (tools/setup installs dbus and polkitd)" >&2
        exit 1
    elif [ ! -r "$file" ]; then
        # The launch helper is for root and the bus's group only.
        echo "make-initramfs: $file cannot be read by this user: run as root" >&2
        exit 1
    fi
done
# The guest has no libc of its own, so only the static busybox will do.
if ! file_info=$(LC_ALL=C readelf -d "$busybox" 2>&1) || echo "$file_info" | grep -q NEEDED; then
    echo "make-initramfs: $busybox is not a static busybox (install busybox-static)" >&2
    exit 1
fi

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
chmod 0755 "$root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,run,etc,opt/bondara/Config,lib/modules} \
    "$root"/usr/share/dbus-1/{system.d,system-services} "$root"/usr/share/polkit-1/{actions,rules.d} \
    "$root"/etc/polkit-1/rules.d "$root/var"
# GLib finds the system bus under /var/run, as Debian links it.
ln -s ../run "$root/var/run"
chmod 1777 "$root/tmp"

cp "$busybox" "$root/bin/busybox"
ln -s busybox "$root/bin/sh"
install -m 0755 "$here/guest-init.sh" "$root/init"
install -m 0644 "$here/guest-bus.sh" "$root/guest-bus.sh"
install -m 0644 "$here/receiver-log.sh" "$root/receiver-log.sh"
install -m 0755 "$cli" "$root/opt/bondara/bondara-cli"
install -m 0755 "$service" "$root/opt/bondara/bondara-pairingd"
install -m 0755 "$emulator" "$root/opt/bondara/uhid-receiver"
strip --strip-unneeded "$root"/opt/bondara/{bondara-cli,bondara-pairingd,uhid-receiver}
install -m 0644 "$here/DeviceConfig.json" "$root/opt/bondara/Config/DeviceConfig.json"
# The bus's and polkit's own users, and two unprivileged ones: tester may not
# pair through the service, bondara-ok may (the service stage's rules file).
printf '%s\n' root:x:0:0:root:/tmp:/bin/sh messagebus:x:100:100::/nonexistent:/bin/false \
    polkitd:x:101:101::/nonexistent:/bin/false tester:x:1000:1000:tester:/tmp:/bin/sh \
    bondara-ok:x:1001:1001:bondara-ok:/tmp:/bin/sh >"$root/etc/passwd"
printf '%s\n' root:x:0: messagebus:x:100: polkitd:x:101: tester:x:1000: bondara-ok:x:1001: >"$root/etc/group"
printf '%s\n' 'passwd: files' 'group: files' >"$root/etc/nsswitch.conf"

for file in "${system_programs[@]}" "${system_files[@]}"; do
    install -D -m "$([ -x "$file" ] && echo 0755 || echo 0644)" "$file" "$root$file"
done
install -m 0644 "$source/service/org.bondara.Pairing1.conf" "$root/usr/share/dbus-1/system.d/"
install -m 0644 "$source/service/org.bondara.pair.policy" "$root/usr/share/polkit-1/actions/"
install -m 0644 "$source/tests/service/data/50-bondara-test.rules" "$root/etc/polkit-1/rules.d/"
# The launch helper clears the environment: the Exec line names everything.
# The service ends two seconds after its last call, as it would when idle.
sed -e "s|@BONDARA_PAIRINGD@|/opt/bondara/bondara-pairingd|" \
    -e "s|@BONDARA_CATALOGUE@|/opt/bondara/Config/DeviceConfig.json --idle-seconds 2|" \
    "$source/service/org.bondara.Pairing1.service.in" \
    >"$root/usr/share/dbus-1/system-services/org.bondara.Pairing1.service"

# Shared libraries where ldd finds them on this machine, and the loader they name.
copy_libraries() {
    local binary=$1 path
    ldd "$binary" | while read -r line; do
        case "$line" in
            *"=> not found"*)
                echo "make-initramfs: $binary: $line" >&2
                return 1
                ;;
            *"=> /"*) path=${line#*=> }; path=${path%% (*} ;;
            /*) path=${line%% (*} ;;
            *) continue ;;
        esac
        if [ ! -e "$root$path" ]; then
            mkdir -p "$root$(dirname "$path")"
            cp -L "$path" "$root$path"
        fi
    done
}
for binary in "$cli" "$service" "$emulator" "${system_programs[@]}"; do
    copy_libraries "$binary"
done

# Modules with what they depend on, in the order insmod must load them.
declare -A loaded=()
order=()
mapfile -t all_modules < <(find "$modules/kernel" -name '*.ko')
module_file() {
    local name=${1//-/_} file base
    for file in "${all_modules[@]}"; do
        base=${file##*/}
        base=${base%.ko}
        if [ "${base//-/_}" = "$name" ]; then
            echo "$file"
            return 0
        fi
    done
    echo "make-initramfs: module $1 not found under $modules" >&2
    return 1
}
add_module() {
    local name=${1//-/_} file depends dependency
    [ -n "${loaded[$name]:-}" ] && return 0
    file=$(module_file "$name")
    depends=$(strings -a "$file" | sed -n 's/^depends=//p')
    depends=${depends%%$'\n'*}
    for dependency in ${depends//,/ }; do
        add_module "$dependency"
    done
    loaded[$name]=1
    cp "$file" "$root/lib/modules/$name.ko"
    order+=("$name")
}
# hidraw is built in; nothing but hid-generic would bind the device without udev.
add_module uhid
add_module hid-generic
printf '%s\n' "${order[@]}" >"$root/lib/modules/load-order"

mkdir -p "$(dirname "$output")"
# Everything root's, whoever builds it; the guest's /init gives the bus and
# polkit what their packages would.
(cd "$root" && find . | LC_ALL=C sort | "$busybox" cpio -o -H newc -R 0:0 2>/dev/null) >"$output.tmp"
mv "$output.tmp" "$output"
