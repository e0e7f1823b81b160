# Sourced by the GUI tests' drivers, for the Linux program's dialog and for
# the Windows program under Wine: a display server of the test's own,
# bounded waits and screenshots.

# wait_for PID SECONDS WHAT TEST-ARGS...: waits until `test TEST-ARGS`
# holds; fails naming WHAT once the process PID has ended or SECONDS have
# passed.
wait_for() {
  pid=$1 left=$(($2 * 10)) what=$3
  shift 3
  until test "$@"; do
    left=$((left - 1))
    if [ $left -lt 0 ] || ! kill -0 "$pid" 2>/dev/null; then
      echo "$what did not start" >&2
      return 1
    fi
    sleep 0.1
  done
}

# start_display x11|wayland DIR: Xvfb (1024 x 768, no window manager), or
# weston's headless backend, keeping its files in the private folder DIR.
# Exports what GTK and Wine need to reach it; stop_display ends it.
start_display() {
  if [ "$1" = x11 ]; then
    # Xvfb picks a free display number and writes it to descriptor 3 once
    # it accepts clients.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$2/display" >/dev/null 2>&1 &
    display_server=$!
    wait_for "$display_server" 30 "the X display" -s "$2/display"
    DISPLAY=:$(tr -d '\n' <"$2/display")
    unset WAYLAND_DISPLAY
    export DISPLAY GDK_BACKEND=x11
  else
    XDG_RUNTIME_DIR=$2 weston --backend=headless-backend.so --socket=wayland-test --idle-time=0 \
      >"$2/weston.log" 2>&1 &
    display_server=$!
    wait_for "$display_server" 30 "the Wayland compositor" -S "$2/wayland-test"
    unset DISPLAY
    export XDG_RUNTIME_DIR="$2" WAYLAND_DISPLAY=wayland-test GDK_BACKEND=wayland
  fi
}

stop_display() {
  if [ -n "${display_server:-}" ]; then
    kill "$display_server" 2>/dev/null || true
    wait "$display_server" 2>/dev/null || true
  fi
}

# screenshot FILE [GEOMETRY]: the X display, or its part WIDTHxHEIGHT+X+Y.
screenshot() {
  import -window root ${2:+-crop "$2" +repage} "$1"
}
