#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs each fuzz target for SECONDS, seeded with the project's own files of
# its kind: report descriptors (tests/descriptors/*.hex, as bytes), scenes,
# catalogues and translation files.
# Usage: run-fuzz.sh BUILD_DIR SECONDS [TARGET...]  (all four by default)
# Exits non-zero when a fuzzer finds a crash; the input is kept under
# BUILD_DIR/fuzz-artifacts/.
set -eu

if [ $# -lt 2 ]; then
    echo "usage: $0 BUILD_DIR SECONDS [TARGET...]" >&2
    exit 2
fi
build=$1
seconds=$2
shift 2
[ $# -gt 0 ] || set -- fuzz_descriptor fuzz_scene fuzz_catalogue fuzz_translation
here=$(cd "$(dirname "$0")" && pwd)
root="$here/../.."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
mkdir -p "$build/fuzz-artifacts"

seed() { # seed TARGET DIR: the target's seeds into DIR
    case $1 in
    fuzz_descriptor)
        # Text hex to raw bytes: drop comments and 0x prefixes, keep the digits.
        for f in "$root"/tests/descriptors/*.hex; do
            [ -e "$f" ] || continue
            perl -0777 -ne 's/#[^\n]*//g; s/0[xX]([0-9a-fA-F]{2})/$1/g; s/[^0-9a-fA-F]//g; print pack("H*", $_)' \
                "$f" > "$2/$(basename "$f" .hex).bin"
        done ;;
    fuzz_scene) cp "$root"/tests/scenes/*.json "$root"/tools/scenes/*.json "$root"/tests/e2e/*.json "$2"/ ;;
    fuzz_catalogue)
        cp "$root/config/DeviceConfig.json" "$2/shipped.json"
        cp "$root/tests/vm/DeviceConfig.json" "$2/vm.json" ;;
    fuzz_translation) cp "$root"/resources/trans/*.json "$2"/ ;;
    *) echo "unknown fuzz target $1" >&2; return 1 ;;
    esac
}

status=0
for target in "$@"; do
    fuzzer="$build/tests/fuzz/$target"
    if [ ! -x "$fuzzer" ]; then
        echo "$target not found under $build/tests/fuzz (configure with -DBONDARA_FUZZ=ON and clang)" >&2
        exit 2
    fi
    mkdir "$work/$target-seeds" "$work/$target-corpus"
    seed "$target" "$work/$target-seeds"
    max_len=16384
    leaks=0
    # Qt 5.15's own JSON parser leaks on some malformed documents (QJsonDocument::fromJson
    # alone shows it), which would stop the JSON readers' runs at once; the sanitizer
    # suites look for our leaks, and the descriptor parser has no Qt in it.
    [ "$target" != fuzz_descriptor ] || { max_len=4096; leaks=1; }
    echo "--- $target for $seconds s"
    result=0
    ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=$leaks}" \
    UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}" \
    "$fuzzer" -max_total_time="$seconds" -max_len="$max_len" -timeout=5 -rss_limit_mb=2048 -detect_leaks="$leaks" \
        -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$target-" \
        "$work/$target-corpus" "$work/$target-seeds" >"$work/$target.log" 2>&1 || result=$?
    grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==ERROR|invariant broken|SUMMARY)" \
        "$work/$target.log" || true
    if [ "$result" -ne 0 ]; then
        tail -n 40 "$work/$target.log" >&2
        echo "$target failed (exit $result); see $build/fuzz-artifacts/" >&2
        status=1
    fi
done
exit "$status"
