#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The package under another version, with FILE added at DESTINATION: how the checks make a
# version before or after the one built. Prints the new package's path.
# Usage: repack.sh DEB VERSION OUT_DIR [FILE DESTINATION]
set -euo pipefail
deb=$1 version=$2 out=$3
tree="$out/repack-$version"
rm -rf "$tree"
dpkg-deb -R "$deb" "$tree"
sed -i "s/^Version: .*/Version: $version/" "$tree/DEBIAN/control"
[ $# -lt 5 ] || install -D -m 644 "$4" "$tree$5"
repacked="$out/bondara_${version}_$(dpkg-deb -f "$deb" Architecture).deb"
dpkg-deb -b --root-owner-group "$tree" "$repacked" >/dev/null
rm -rf "$tree"
echo "$repacked"
