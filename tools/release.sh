# SPDX-License-Identifier: MIT
# Sourced by the scripts whose packages differ per Debian release.
#
# debian_release: sets release (12 or 13) and codename from /etc/os-release, by VERSION_ID or
# by VERSION_CODENAME when there is none; fails naming the release found on any other.
debian_release() {
    local ID="" VERSION_ID="" VERSION_CODENAME="" PRETTY_NAME=""
    # shellcheck disable=SC1091
    [ -r /etc/os-release ] && . /etc/os-release
    case "$ID:${VERSION_ID:-$VERSION_CODENAME}" in
    debian:12 | debian:bookworm) release=12 codename=bookworm ;;
    debian:13 | debian:trixie) release=13 codename=trixie ;;
    *)
        echo "$(basename "$0"): this is ${PRETTY_NAME:-an unknown system} (ID=${ID:-none}," \
            "VERSION_ID=${VERSION_ID:-none}, VERSION_CODENAME=${VERSION_CODENAME:-none});" \
            "only Debian 12 (bookworm) and Debian 13 (trixie) are known" >&2
        return 1
        ;;
    esac
}
