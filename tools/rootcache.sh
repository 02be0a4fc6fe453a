# SPDX-License-Identifier: MIT
# Sourced by the scripts that keep a Debian root made with mmdebstrap in the cache
# (tools/setup-debian13, tools/setup-bootroot).
#
# A root is named after everything that changes its contents, hashed into its key. It is made
# beside its final place and moved there in one rename, so an interrupted run is never taken
# for a finished root, and the roots of earlier inputs go once the new one is in place.
# Environment: BONDARA_ROOT_CACHE (default ${XDG_CACHE_HOME:-$HOME/.cache}/bondara).

rootcache_dir=${BONDARA_ROOT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/bondara}
rootcache_sudo=""
if [ "$(id -u)" -ne 0 ]; then
    rootcache_sudo=sudo
fi

# rootcache_mirror: the archive this machine's own Debian uses.
rootcache_mirror() {
    local mirror
    mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n1)
    echo "${mirror:-http://deb.debian.org/debian}"
}

# rootcache_mmdebstrap: installs mmdebstrap when it is missing; prints its version.
rootcache_mmdebstrap() {
    if ! command -v mmdebstrap >/dev/null; then
        echo "$(basename "$0"): installing mmdebstrap" >&2
        DEBIAN_FRONTEND=noninteractive $rootcache_sudo apt-get install -y --no-install-recommends mmdebstrap >&2
    fi
    mmdebstrap --version | head -n1
}

# rootcache_path NAME INPUT...: where the root made from these inputs is kept.
rootcache_path() {
    local name=$1
    shift
    echo "$rootcache_dir/$name-$(printf '%s\n' "$@" | sha256sum | cut -c1-12)"
}

# rootcache_hold NAME: waits for the cache's lock of the roots called NAME and holds it until the
# calling script ends, so that two runs (a stage, and tools/test making it ahead) never make one
# root at once; the second finds it made.
rootcache_hold() {
    mkdir -p "$rootcache_dir"
    exec 8>"$rootcache_dir/$1.lock"
    if ! flock -n 8; then
        echo "$(basename "$0"): another run is making the $1 root; waiting for it" >&2
        flock 8
    fi
}

# rootcache_complete ROOT: true when ROOT was made to its end.
rootcache_complete() { [ -f "$1/.bondara-complete" ]; }

# rootcache_make ROOT MAKER INPUT...: runs MAKER DIRECTORY to fill a directory beside ROOT,
# marks it complete with the inputs and renames it to ROOT; then removes the other roots of
# the same name. The marker's time is what the stages compare the root against.
rootcache_make() {
    local root=$1 maker=$2 partial started=$SECONDS stale
    shift 2
    mkdir -p "$rootcache_dir"
    partial="$root.partial.$$"
    # shellcheck disable=SC2064
    trap "$rootcache_sudo rm -rf --one-file-system '$partial'" EXIT
    "$maker" "$partial" || return 1
    printf '%s\n' "$@" | $rootcache_sudo tee "$partial/.bondara-complete" >/dev/null
    $rootcache_sudo mv "$partial" "$root"
    trap - EXIT
    # Roots of earlier inputs are a gigabyte or more each and nothing uses them any more.
    for stale in "${root%-*}"-*; do
        [ "$stale" = "$root" ] || $rootcache_sudo rm -rf --one-file-system "$stale"
    done
    echo "$(basename "$0"): made in $((SECONDS - started)) s, $($rootcache_sudo du -sh "$root" | cut -f1)" >&2
}
