#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks that a built package is the one tools/package makes for a release: its version, the Qt
# it links and depends on, and the pairing service's files where that release keeps them.
# Usage: check-release.sh DEB RELEASE UPSTREAM_VERSION   (RELEASE: 12 or 13)
set -uo pipefail
deb=$1 release=$2 upstream=$3
case $release in
12) qt=5 wayland=qtwayland5 unit_dir=lib/systemd/system ;;
13) qt=6 wayland=qt6-wayland unit_dir=usr/lib/systemd/system ;;
*)
    echo "no release $release"
    exit 2
    ;;
esac
problems=()
version=$(dpkg-deb -f "$deb" Version)
[ "$version" = "$upstream~deb${release}u1" ] || problems+=("version $version")
depends=$(dpkg-deb -f "$deb" Depends)
# shlibs names each Qt library by its major: libqt5core5t64 or libqt6core6t64 (or without t64).
for wanted in "$wayland" "libqt${qt}core${qt}"; do
    grep -qE "(^|, )$wanted[a-z0-9]*( |,|$)" <<<"$depends" || problems+=("no $wanted in Depends: $depends")
done
grep -q "libqt$((11 - qt))" <<<"$depends" && problems+=("Qt $((11 - qt)) in Depends: $depends")
files=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for file in "./$unit_dir/bondara-pairing.service" ./usr/share/dbus-1/system-services/org.bondara.Pairing1.service \
    ./usr/share/dbus-1/system.d/org.bondara.Pairing1.conf ./usr/share/polkit-1/actions/org.bondara.pair.policy; do
    grep -qxF "$file" <<<"$files" || problems+=("no $file")
done
[ "$(grep -c "/systemd/system/[^/]\+$" <<<"$files")" -eq 1 ] ||
    problems+=("units elsewhere: $(grep "/systemd/system/[^/]\+$" <<<"$files" | tr '\n' ' ')")
[ ${#problems[@]} -eq 0 ] || { printf '%s\n' "${problems[@]}"; exit 1; }
