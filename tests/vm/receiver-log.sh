# SPDX-License-Identifier: MIT
# Sourced by the guests' checks (tests/vm/guest-init.sh under busybox, tests/boot's under
# bash): what an emulator log of tests/vm/uhid_receiver.cpp says. check_gaps reports through
# the caller's own problem().

# The 0xBA frames of an emulator log, by name, with runs of polls counted:
# "begin-keyboard,poll*5,end". A frame that is not exactly one of the 32-byte
# commands shows as other[bytes].
frames() {
    awk '
    function zeros(n,   s, i) { s = ""; for (i = 0; i < n; i++) s = s " 00"; return s }
    function flush() { if (last != "") { out = out sep last (count > 1 ? "*" count : ""); sep = "," } }
    BEGIN {
        name["ba a0 81 02 01" zeros(27)] = "begin-keyboard"
        name["ba a0 81 01 01" zeros(27)] = "begin-mouse"
        name["ba a1 01" zeros(29)] = "poll"
        name["ba a1 84" zeros(29)] = "end"
    }
    $2 == "output" && $3 == "ba" {
        frame = $3
        for (i = 4; i <= NF; i++) frame = frame " " $i
        kind = (frame in name) ? name[frame] : "other[" frame "]"
        if (kind == last) { count++; next }
        flush(); last = kind; count = 1
    }
    $2 == "destroy" && $3 == "(mid-poll)" { flush(); last = "unplugged"; count = 1 }
    END { flush(); print out }
    ' "$1"
}
# "COUNT MIN MAX MEAN" of the milliseconds between successive poll frames.
poll_gaps() {
    awk '
    $2 == "output" && $3 == "ba" && $4 == "a1" && $5 == "01" {
        if (n == 0) first = $1
        if (n > 0) {
            gap = $1 - previous
            if (n == 1 || gap < min) min = gap
            if (n == 1 || gap > max) max = gap
        }
        previous = $1; n++
    }
    END { printf "%d %d %d %d\n", n, min, max, (n > 1 ? (previous - first) / (n - 1) : 0) }
    ' "$1"
}
# Every 0xBA command must be followed by exactly one fetch of input report 0xBA.
fetches_match() {
    awk '
    $2 == "output" && $3 == "ba" { writes++ }
    $2 == "get-report" && $3 == "ba" && $4 == "input" { reads++ }
    END { exit !(writes == reads) }
    ' "$1"
}
# Polls come every 350 ms: 300 ms before the write, 50 ms before the fetch. The
# emulator may see a frame late, but always before it answers that frame's fetch,
# and the next frame comes 300 ms after the answer: no gap can be below 300 ms.
# The mean over all polls is blurred only at its two ends.
check_gaps() {
    set -- $(poll_gaps "$1") "$2"
    echo "  $1 polls, $2 to $3 ms apart, $4 ms on average"
    if [ $# -ne 5 ]; then
        problem "the poll times could not be measured"
    elif [ "$1" -ne "$5" ]; then
        problem "$1 polls, expected $5"
    elif [ "$1" -gt 1 ] && { [ "$2" -lt 300 ] || [ "$3" -gt 800 ] || [ "$4" -lt 340 ] || [ "$4" -gt 450 ]; }; then
        problem "polls $2 to $3 ms apart, $4 on average, expected 350 on average and none below 300"
    fi
}
