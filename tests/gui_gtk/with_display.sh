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

[ $# -ge 2 ] || { sed -n '2,9s/^# \{0,1\}//p' "$0" >&2; exit 2; }
kind=$1
shift
ports="$(cd "$(dirname "$0")" && pwd)/../wine/wine_prefix.sh"
run=$(mktemp -d)
chmod 700 "$run"
finish() {
  [ -z "${prefix:-}" ] || "$ports" stop "$prefix" || true
  [ -z "${server:-}" ] || { kill "$server" && wait "$server"; } 2>/dev/null || true
  rm -rf "$run"
}
trap finish EXIT
trap 'exit 143' HUP INT TERM

# wait_for WHAT TEST-ARGS...: until `test TEST-ARGS` holds, for 30 s at
# most while the display server runs.
wait_for() {
  what=$1 left=300
  shift
  until test "$@"; do
    left=$((left - 1))
    if [ $left -lt 0 ] || ! kill -0 "$server" 2>/dev/null; then
      echo "$what did not start" >&2
      return 1
    fi
    sleep 0.1
  done
}

if [ "$kind" = wayland ]; then
  XDG_RUNTIME_DIR=$run weston --backend=headless-backend.so --socket=wayland-test --idle-time=0 \
    >"$run/weston.log" 2>&1 &
  server=$!
  wait_for "the Wayland compositor" -S "$run/wayland-test"
  unset DISPLAY
  export XDG_RUNTIME_DIR="$run" WAYLAND_DISPLAY=wayland-test GDK_BACKEND=wayland
else
  # Xvfb picks a free display number and writes it to descriptor 3 once it
  # accepts clients.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$run/display" >/dev/null 2>&1 &
  server=$!
  wait_for "the X display" -s "$run/display"
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
  if ! grep -q "^\"$setting\"=\"N\"" "$prefix/user.reg" 2>/dev/null; then
    "$ports" run "$prefix" "${WINE:-wine}" reg add 'HKCU\Software\Wine\X11 Driver' \
      /v $setting /t REG_SZ /d N /f >/dev/null
  fi
done
"$ports" run "$prefix" "$@"
