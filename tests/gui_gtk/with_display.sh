#!/bin/sh
# with_display.sh x11|wayland COMMAND [ARGS...]
# Runs COMMAND on a display server of its own: Xvfb, or weston's headless
# backend with GDK_BACKEND=wayland. Both end with the command.
set -eu
kind=$1
shift
run=$(mktemp -d)
chmod 700 "$run"
server=
finish() {
  [ -z "$server" ] || { kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; } || true
  rm -rf "$run"
}
trap finish EXIT
trap 'exit 143' INT TERM

if [ "$kind" = x11 ]; then
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$run/display" >/dev/null 2>&1 &
  ready=$run/display
else
  XDG_RUNTIME_DIR=$run weston --backend=headless-backend.so --socket=wayland-test --idle-time=0 \
    >"$run/weston.log" 2>&1 &
  ready=$run/wayland-test
fi
server=$!
tries=0
until [ -s "$ready" ] || [ -S "$ready" ]; do
  tries=$((tries + 1))
  if [ $tries -gt 300 ] || ! kill -0 "$server" 2>/dev/null; then
    echo "with_display.sh: the $kind display did not start" >&2
    exit 1
  fi
  sleep 0.1
done
if [ "$kind" = x11 ]; then
  env -u WAYLAND_DISPLAY DISPLAY=":$(cat "$run/display")" GDK_BACKEND=x11 "$@"
else
  env -u DISPLAY XDG_RUNTIME_DIR="$run" WAYLAND_DISPLAY=wayland-test GDK_BACKEND=wayland "$@"
fi
