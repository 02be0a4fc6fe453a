#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# tools/room-graph on this tree, which must pass, and on small trees of one source file each
# under this tree's rooms table, which pass or fail by what the file includes.
# Usage: run-room-graph-test.sh
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$root/tools/testlib.sh"
graph=$root/tools/room-graph
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

check "this tree's includes keep to the table" "$graph" "$root"

# file | its include line | pass or fail
cases='
config/a.cpp|#include "khid/kplatform.h"|pass
config/a.cpp|#include "ui/mainwindow.h"|fail
config/a.cpp|#include <ui/mainwindow.h>|fail
config/a.cpp|  #  include "pairing/pairoutcome.h"|fail
khid/a.h|#include "config/receiver.h"|fail
khid/a.cpp|#include "base/kfileread.h"|pass
sim/a.cpp|#include "pairing/pairprotocol.h"|pass
sim/a.cpp|#include "pairing/mousecommunity.h"|fail
ui/a.cpp|#include "app/maincontrol.h"|pass
ui/a.cpp|#include "app/startup.h"|fail
ui/a.cpp|#include "i18n/trans.h"|fail
ui/preview/a.cpp|#include "i18n/trans.h"|pass
cli/a.cpp|#include "ui/mainwindow.h"|fail
service/a.cpp|#include "sim/ksimplatform.h"|fail
tests/a.cpp|#include "app/startup.h"|pass
build/config/a.cpp|#include "ui/mainwindow.h"|pass
newroom/a.cpp|#include "base/kfileread.h"|fail
config/a.cpp|#include "config/receiver.h"|pass
ui/a.ui|<header>app/startup.h</header>|fail
'
n=0
while IFS='|' read -r file line expected; do
    [ -n "$file" ] || continue
    n=$((n + 1))
    tree=$tmp/$n
    mkdir -p "$tree/docs" "$tree/$(dirname "$file")"
    cp "$root/docs/architecture.md" "$tree/docs/"
    printf '// a test file\n%s\n' "$line" >"$tree/$file"
    output=$("$graph" "$tree" 2>&1)
    status=$?
    if [ "$expected" = pass ] && [ $status -eq 0 ]; then
        pass "$file: $line"
    elif [ "$expected" = fail ] && [ $status -eq 1 ] && grep -q "^room-graph: $file" <<<"$output"; then
        pass "$file: $line is reported"
    else
        fail "$file: $line: expected $expected, exit status $status"
        printf '%s\n' "$output" | sed 's/^/    /'
    fi
done <<<"$cases"

# Without its table it refuses to judge.
mkdir -p "$tmp/notable/config"
printf '#include "ui/mainwindow.h"\n' >"$tmp/notable/config/a.cpp"
"$graph" "$tmp/notable" >/dev/null 2>&1
status=$?
if [ $status -eq 2 ]; then pass "a tree without the table: exit status 2"; else fail "a tree without the table: exit status $status"; fi

summary
