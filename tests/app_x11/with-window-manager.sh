#!/usr/bin/env bash
# Runs a command on the X display of the caller (xvfb-run's) with a window manager of its own, as a desktop
# would have: openbox, in a private configuration folder, stopped by pid afterwards.
set -u
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
env HOME="$home" XDG_CONFIG_HOME="$home" openbox --sm-disable >"$home/openbox.log" 2>&1 &
wm=$!
# The manager is there once it announces itself on the root window.
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
done
"$@"
status=$?
kill "$wm" 2>/dev/null
wait "$wm" 2>/dev/null
exit $status
