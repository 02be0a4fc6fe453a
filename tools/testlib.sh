# SPDX-License-Identifier: MIT
# Sourced by the test stages: one PASS or FAIL line per check, and the count at the end.

passed=0
failed=0
pass() { echo "PASS: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
# summary: the counts; true only when nothing failed, so that it can end a script.
summary() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
