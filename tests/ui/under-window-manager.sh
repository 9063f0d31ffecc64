#!/bin/sh
# Runs a command on an X server of its own (Xvfb) under a window manager
# (openbox), as the window-placement tests need a frame around windows.
set -eu
display=""
for n in $(seq 90 150); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
        display=$n
        break
    fi
done
[ -n "$display" ] || { echo "under-window-manager: no free display" >&2; exit 1; }
Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
wm=""
trap 'kill $wm $xvfb 2>/dev/null || true' EXIT
for i in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$display" ] && break
    sleep 0.1
done
DISPLAY=":$display" openbox >/dev/null 2>&1 &
wm=$!
sleep 1
DISPLAY=":$display" QF_TEST_QPA=xcb "$@"
