#!/bin/bash
# SPDX-License-Identifier: MIT
# The checks' hands in a login session: the user's login shell becomes this loop (the getty's
# autologin, then ~/.bash_profile), and every job the guest's checks queue runs as its child,
# so that what it starts belongs to the session as a user's own programs do.
#
# ~/checks/queue takes job numbers; job N is ~/checks/N.sh, run with no terminal, its process
# id in N.pid, its output in N.out and N.err and its status, at its end, in N.rc. A job that
# ends with "exec COMMAND" leaves COMMAND's process id in N.pid.
dir=$HOME/checks
rm -rf "$dir"
mkdir -m 755 "$dir" && mkfifo -m 600 "$dir/queue" || exit 1
printf '%s\n' "$$" >"$dir/ready"
while :; do
    read -r job <"$dir/queue" || continue
    case $job in
    *[!0-9]* | "") continue ;;
    esac
    (
        bash "$dir/$job.sh" </dev/null >"$dir/$job.out" 2>"$dir/$job.err" &
        echo $! >"$dir/$job.pid.new"
        mv "$dir/$job.pid.new" "$dir/$job.pid"
        wait $!
        echo $? >"$dir/$job.rc.new"
        mv "$dir/$job.rc.new" "$dir/$job.rc"
    ) &
done
