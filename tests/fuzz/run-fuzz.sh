#!/bin/sh
# Fuzzes the report descriptor parser, seeded with tests/descriptors/*.hex.
# Usage: run-fuzz.sh BUILD_DIR SECONDS
# Exits non-zero when the fuzzer finds a crash; the input is kept under
# BUILD_DIR/fuzz-artifacts/.
set -eu

if [ $# -ne 2 ]; then
    echo "usage: $0 BUILD_DIR SECONDS" >&2
    exit 2
fi
build=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
descriptors="$here/../descriptors"

fuzzer="$build/tests/fuzz/fuzz_descriptor"
if [ ! -x "$fuzzer" ]; then
    fuzzer=$(find "$build" -type f -name fuzz_descriptor -perm -u+x 2>/dev/null | head -n 1)
fi
if [ -z "$fuzzer" ] || [ ! -x "$fuzzer" ]; then
    echo "fuzz_descriptor not found under $build (configure with -DBONDARA_FUZZ=ON and clang)" >&2
    exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
mkdir "$work/seeds" "$work/corpus"
mkdir -p "$build/fuzz-artifacts"

# Text hex to raw bytes: drop comments and 0x prefixes, keep the digits.
for f in "$descriptors"/*.hex; do
    [ -e "$f" ] || continue
    perl -0777 -ne 's/#[^\n]*//g; s/0[xX]([0-9a-fA-F]{2})/$1/g; s/[^0-9a-fA-F]//g; print pack("H*", $_)' \
        "$f" > "$work/seeds/$(basename "$f" .hex).bin"
done

status=0
ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}" \
UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}" \
"$fuzzer" -max_total_time="$seconds" -max_len=4096 -timeout=5 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/" \
    "$work/corpus" "$work/seeds" || status=$?

if [ "$status" -ne 0 ]; then
    echo "fuzz_descriptor failed (exit $status); see $build/fuzz-artifacts/" >&2
    exit 1
fi
