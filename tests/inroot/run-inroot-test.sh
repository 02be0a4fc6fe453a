#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# tools/in-root run from a copy of the work tree under /tmp, where a first try usually lands:
# the overlay's own /tmp is a tmpfs, yet the stages run the checkout's scripts inside. Run as
# root. Usage: run-inroot-test.sh
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$root/tools/testlib.sh"

if [ "$(id -u)" -ne 0 ]; then
    fail "tools/in-root needs root, for its mount namespace and overlay"
    summary
    exit 1
fi
tmp=$(mktemp -d /tmp/bondara-inroot.XXXXXX)
trap 'rm -rf --one-file-system "$tmp"' EXIT
clone=$tmp/clone
mkdir -p "$clone/build/package"
# What git tracks or would track, as tools/package takes it.
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
    tar --null -T - -cf -) | tar -C "$clone" -xf -

# in_clone [--bind HOST INSIDE]... -- COMMAND...: the command in an overlay of this machine's /,
# through the copy's own in-root, as tools/test runs the Debian 12 package stage.
in_clone() {
    local binds=()
    while [ "$1" != -- ]; do
        binds+=("$1")
        shift
    done
    shift
    "$clone/tools/in-root" "${binds[@]}" / "$tmp/scratch" -- "$@"
}

# Each row: what is checked | in-root's options | the command inside, given the copy's path.
rows=(
    "a script of the copy runs inside, as the Debian 12 package stage's does|--|test -x \"\$1/packaging/test-package.sh\" && bash -c 'source \"\$1/tools/release.sh\" && debian_release' _ \"\$1\""
    "the copy is read-only inside: a write fails and the copy is left alone|--|! touch \"\$1/written-inside\" 2>/dev/null"
    "a directory bound in the copy is writable on top of it|--bind $clone/build/package $clone/build/package --|touch \"\$1/build/package/written-inside\""
)
for row in "${rows[@]}"; do
    IFS='|' read -r what options command <<<"$row"
    # shellcheck disable=SC2086
    check "$what" in_clone $options /usr/bin/env bash -c "$command" _ "$clone"
done
check "writes land where they were bound, nowhere else in the copy" bash -c '
    [ -f "$1/build/package/written-inside" ] && [ ! -e "$1/written-inside" ]' _ "$clone"
check "no mount of the overlay is left" bash -c '! grep -F " $1/" /proc/self/mountinfo' _ "$tmp"
summary
