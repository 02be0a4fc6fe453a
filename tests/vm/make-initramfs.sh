#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the guest's initramfs: busybox, bondara-cli with the guest catalogue,
# the receiver emulator, their shared libraries and the kernel modules for uhid
# and hid-generic.
# Usage: make-initramfs.sh BUILD_DIR MODULES_DIR OUTPUT.cpio
#   BUILD_DIR    the plain build (bondara-cli, tests/vm/uhid-receiver)
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

cli="$build/bondara-cli"
emulator="$build/tests/vm/uhid-receiver"
busybox=/bin/busybox
for file in "$cli" "$emulator"; do
    if [ ! -x "$file" ]; then
        echo "make-initramfs: $file is missing: build $build first" >&2
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
mkdir -p "$root"/{bin,dev,proc,sys,tmp,run,etc,opt/bondara/Config,lib/modules}
chmod 1777 "$root/tmp"

cp "$busybox" "$root/bin/busybox"
ln -s busybox "$root/bin/sh"
install -m 0755 "$here/guest-init.sh" "$root/init"
install -m 0755 "$cli" "$root/opt/bondara/bondara-cli"
install -m 0755 "$emulator" "$root/opt/bondara/uhid-receiver"
strip --strip-unneeded "$root/opt/bondara/bondara-cli" "$root/opt/bondara/uhid-receiver"
install -m 0644 "$here/DeviceConfig.json" "$root/opt/bondara/Config/DeviceConfig.json"
# An unprivileged account for the permission check.
printf 'root:x:0:0:root:/tmp:/bin/sh\ntester:x:1000:1000:tester:/tmp:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\ntester:x:1000:\n' >"$root/etc/group"

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
copy_libraries "$cli"
copy_libraries "$emulator"

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
(cd "$root" && find . | LC_ALL=C sort | "$busybox" cpio -o -H newc 2>/dev/null) >"$output.tmp"
mv "$output.tmp" "$output"
