#!/bin/sh
# with_display.sh x11|wayland COMMAND [ARGS...]
# Runs COMMAND on a display server of its own: Xvfb, or weston's headless
# backend with GDK_BACKEND=wayland. Both end with the command.
set -eu
kind=$1
shift
run=$(mktemp -d)
chmod 700 "$run"
. "$(dirname "$0")/display.sh"
trap 'stop_display; rm -rf "$run"' EXIT
trap 'exit 143' INT TERM
start_display "$kind" "$run"
"$@"
