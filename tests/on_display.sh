#!/bin/sh
# Runs a command on an X display of its own: a fresh Xvfb of 1024 x 1024 at
# 24 bits (big enough for the viewer's window at 250, 250), which picks a
# free display number itself (-displayfd), so that tests run side by side
# never share a screen or race for a number. It never resets (-noreset):
# by default it starts over whenever its last client leaves and drops any
# client still connecting, so a program opening its window just as a look
# (import) or a drag (xdotool) ends would fail to open the display. The
# command's exit status is the script's.
#     sh on_display.sh COMMAND [ARGUMENT...]
set -eu
work=$(mktemp -d)
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -rf "$work"' EXIT
Xvfb -displayfd 3 -screen 0 1024x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/log" &
server=$!
# The number is written once the server takes connections.
tries=0
until [ -s "$work/display" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 200 ] || ! kill -0 "$server" 2>/dev/null; then
        echo "on_display.sh: Xvfb did not start" >&2
        cat "$work/log" >&2
        exit 1
    fi
    sleep 0.05
done
DISPLAY=:$(cat "$work/display") "$@"
