#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Wraps an installed Windows layout into bondara-<version>-setup.exe with NSIS.
#   make-installer.sh STAGE_DIR OUT_DIR VERSION ICON
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
stage=$(realpath "$1")
out=$(realpath -m "$2")
version=$3
icon=$(realpath "$4")

[ -f "$stage/bondara.exe" ] && [ -f "$stage/Config/DeviceConfig.json" ] \
    || { echo "make-installer: $stage is not an installed layout"; exit 1; }
mkdir -p "$out"
lists="$out/nsis"
rm -rf "$lists"
mkdir -p "$lists"

# What to put in place and, for the uninstaller, what to take away again; the catalogue has
# rules of its own in the script.
(
    cd "$stage"
    find . -type f ! -path './Config/*' | sed 's|^\./||' | sort | while read -r file; do
        dir=$(dirname "$file")
        if [ "$dir" = . ]; then target='$INSTDIR'; else target="\$INSTDIR\\${dir//\//\\}"; fi
        printf 'SetOutPath "%s"\nFile "%s"\n' "$target" "$stage/$file"
    done >"$lists/files.nsh"
    find . -type f ! -path './Config/*' | sed 's|^\./||' | sort | while read -r file; do
        printf 'Delete "$INSTDIR\\%s"\n' "${file//\//\\}"
    done >"$lists/unfiles.nsh"
    find . -mindepth 1 -type d ! -path ./Config | sed 's|^\./||' | sort -r | while read -r dir; do
        printf 'RMDir "$INSTDIR\\%s"\n' "${dir//\//\\}"
    done >>"$lists/unfiles.nsh"
)

setup="$out/bondara-$version-setup.exe"
makensis -V2 -NOCD -DVERSION="$version" -DICON="$icon" -DSTAGE="$stage" -DOUTFILE="$setup" \
    -DFILES="$lists/files.nsh" -DUNFILES="$lists/unfiles.nsh" "$here/bondara.nsi"
echo "make-installer: $setup ($(du -h "$setup" | cut -f1))"
