#!/bin/sh
# with_display.sh PREFIX COMMAND [ARGS...]
#
# Runs COMMAND in the prepared Wine prefix PREFIX (see wine_prefix.sh) with
# a virtual X display of its own as DISPLAY: Xvfb, 1024 x 768, and no
# window manager. The prefix is told once that Wine manages its windows
# itself. Afterwards the prefix's Wine processes are ended
# (their Wine session belongs to this display) and so is the display.
set -eu

[ $# -ge 2 ] || { sed -n '2,9s/^# \{0,1\}//p' "$0" >&2; exit 2; }
prefix=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
ports="$here/../wine/wine_prefix.sh"
wine=${WINE:-wine}
. "$here/../gui_gtk/display.sh"

run=$(mktemp -d)
finish() {
  "$ports" stop "$prefix" || true
  stop_display
  rm -rf "$run"
}
trap finish EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# A Wine session left from an earlier run would still draw on its display.
"$ports" stop "$prefix"
start_display x11 "$run"

# With no window manager, Wine is to manage the windows itself: it draws
# their captions and frames, and it does not wait (two seconds, each time
# a window closes) for a window manager to confirm that a window is gone.
for setting in Decorated Managed; do
  if ! grep -q "^\"$setting\"=\"N\"" "$prefix/user.reg" 2>/dev/null; then
    "$ports" run "$prefix" "$wine" reg add 'HKCU\Software\Wine\X11 Driver' \
      /v $setting /t REG_SZ /d N /f >/dev/null
  fi
done

"$ports" run "$prefix" "$@"
