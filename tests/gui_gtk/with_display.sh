#!/bin/sh
# with_display.sh x11|wayland COMMAND [ARGS...]
# with_display.sh wine PREFIX COMMAND [ARGS...]
#
# Runs COMMAND on a display server of its own, which ends with it: Xvfb
# (1024 x 768, no window manager), or weston's headless backend with
# GDK_BACKEND=wayland. `wine` runs it on Xvfb in the prepared Wine prefix
# PREFIX (see wine_prefix.sh), whose Wine session belongs to this display
# and so ends with it too.
set -eu
kind=$1
shift
ports="$(cd "$(dirname "$0")" && pwd)/../wine/wine_prefix.sh"
run=$(mktemp -d)  # private to its owner, as weston wants of XDG_RUNTIME_DIR
finish() {
  [ -z "${prefix:-}" ] || "$ports" stop "$prefix" || true
  [ -z "${server:-}" ] || { kill "$server" && wait "$server"; } 2>/dev/null || true
  rm -rf "$run"
}
trap finish EXIT
trap 'exit 143' HUP INT TERM

# Until `test ARGS` holds: 30 s at most, while the display server runs.
wait_for() {
  for _ in $(seq 300); do
    test "$@" && return
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  echo "The $kind display server did not start" >&2
  return 1
}

if [ "$kind" = wayland ]; then
  XDG_RUNTIME_DIR=$run weston --backend=headless-backend.so --socket=wayland-test --idle-time=0 \
    >"$run/weston.log" 2>&1 &
  server=$!
  wait_for -S "$run/wayland-test"
  unset DISPLAY
  export XDG_RUNTIME_DIR="$run" WAYLAND_DISPLAY=wayland-test GDK_BACKEND=wayland
else
  # Xvfb picks a free display number and writes it to descriptor 3 once it
  # accepts clients.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$run/display" >/dev/null 2>&1 &
  server=$!
  wait_for -s "$run/display"
  DISPLAY=:$(tr -d '\n' <"$run/display")
  unset WAYLAND_DISPLAY
  export DISPLAY GDK_BACKEND=x11
fi
[ "$kind" = wine ] || { "$@"; exit; }

prefix=$1
shift
# A Wine session left from an earlier run would still draw on its display.
"$ports" stop "$prefix"
# With no window manager, Wine is to manage the windows itself: it draws
# their captions and frames, and it does not wait (two seconds, each time a
# window closes) for a window manager to confirm that a window is gone.
for setting in Decorated Managed; do
  grep -q "^\"$setting\"=\"N\"" "$prefix/user.reg" 2>/dev/null ||
    "$ports" run "$prefix" "${WINE:-wine}" reg add 'HKCU\Software\Wine\X11 Driver' \
      /v $setting /t REG_SZ /d N /f >/dev/null
done
"$ports" run "$prefix" "$@"
