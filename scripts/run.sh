#!/usr/bin/env bash
# Runs Pantoline on Linux against a simulated Lodestria unit.
#
# Installs the Debian packages it needs (only those missing), builds
# pantoline and the simulated unit (build/release, the "release" preset of
# CMakePresets.json), makes a demonstration package, starts the unit and
# pins it as COM1 through a configuration folder of the run's own, and
# starts pantoline in a working folder that holds the package.
#
# On a desktop (DISPLAY or WAYLAND_DISPLAY set) you press RESET LODESTRIA
# and watch, then EXIT. Without one, pantoline runs on a virtual display:
# the script presses RESET itself, waits for the end, saves a screenshot
# and leaves with EXIT. Either way it then prints the reset log and says
# whether the unit received the package intact, and removes everything it
# made except the screenshot.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/release
package_size=64100  # 501 XModem blocks, the last one short

say() { echo "run.sh: $*" >&2; }

headless=true
if [[ -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ]]; then
  headless=false
fi

# --- What is missing -------------------------------------------------------
packages=(cmake g++ make pkg-config libgtk-3-dev nlohmann-json3-dev)
$headless && packages+=(xvfb xdotool imagemagick)
"$root/scripts/setup.sh" "${packages[@]}"

# --- Build -------------------------------------------------------------------
say "building in $build"
(cd "$root" && cmake --preset release >/dev/null &&
  cmake --build --preset release -j "$(nproc)" --target pantoline pantoline-simunit >/dev/null)

# --- The run's folders, the package and the unit --------------------------------
run=$(mktemp -d "${TMPDIR:-/tmp}/pantoline-run.XXXXXX")
work=$run/work
config=$run/config
mkdir -p "$work" "$config"
unit_pid=""
display_pid=""
program_pid=""
cleanup() {
  for pid in "$program_pid" "$unit_pid" "$display_pid"; do
    if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

head -c "$package_size" /dev/urandom >"$work/ResetPack.qv5"

"$build/tools/simunit/pantoline-simunit" --port 1 --config-home "$config" \
  --output "$run/received.bin" >"$run/unit.out" 2>"$run/unit.err" &
unit_pid=$!
# The unit prints its device once the COM1 pin is in place.
for _ in $(seq 100); do
  [[ -s $run/unit.out ]] && break
  kill -0 "$unit_pid" 2>/dev/null || { cat "$run/unit.err" >&2; exit 1; }
  sleep 0.1
done
[[ -s $run/unit.out ]] || { say "the simulated unit did not start"; exit 1; }
say "simulated unit on $(head -1 "$run/unit.out"), pinned as COM1"

# Waits up to $2 seconds for a line starting with "trace: $1" in the
# program's watch lines and prints it.
wait_for_trace() {
  local line
  for _ in $(seq $(($2 * 10))); do
    if line=$(grep -m1 "^trace: $1" "$run/program.err"); then
      echo "$line"
      return 0
    fi
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
  done
  say "pantoline did not get to \"$1\""
  return 1
}

# Clicks the middle of control $2 of the window $1, from its watch line.
click_control() {
  local geometry
  geometry=$(grep -m1 "^trace: control 102 $2 " "$run/program.err") || return 1
  read -r _ _ _ _ x y width height <<<"$geometry"
  xdotool mousemove --window "$1" $((x + width / 2)) $((y + height / 2)) click 1
}

screenshot=""
if ! $headless; then
  say "press RESET LODESTRIA and watch the unit being loaded; then EXIT"
  (cd "$work" && XDG_CONFIG_HOME=$config "$build/app/pantoline") || true
else
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$run/display" 2>/dev/null &
  display_pid=$!
  for _ in $(seq 100); do
    [[ -s $run/display ]] && break
    sleep 0.1
  done
  [[ -s $run/display ]] || { say "the virtual display did not start"; exit 1; }
  export DISPLAY=:$(head -1 "$run/display")
  say "no desktop: pantoline runs on the virtual display $DISPLAY and RESET is pressed for you"

  # PANTOLINE_TRACE: pantoline tells where its windows and buttons are and
  # what its status line shows.
  (cd "$work" && exec env XDG_CONFIG_HOME="$config" PANTOLINE_TRACE=1 NO_AT_BRIDGE=1 \
    GSETTINGS_BACKEND=memory "$build/app/pantoline") 2>"$run/program.err" &
  program_pid=$!
  shown=$(wait_for_trace "shown 102 " 60)
  wait_for_trace "ready 102" 60 >/dev/null
  window=${shown##* }
  click_control "$window" 1
  wait_for_trace "finished 102" 600 >/dev/null
  say "status line: $(grep '^trace: text 102 1000 ' "$run/program.err" | tail -1 | cut -d' ' -f5-)"
  screenshot=$(mktemp --suffix=.png "${TMPDIR:-/tmp}/pantoline-screenshot.XXXXXX")
  import -window root "$screenshot"
  click_control "$window" 2
  wait "$program_pid" || true
  program_pid=""
fi

# --- What happened ------------------------------------------------------------------
echo
if [[ -f $work/ResetSystemLog.doc ]]; then
  echo "The reset log, ResetSystemLog.doc:"
  echo "----------------------------------------------------------------"
  cat "$work/ResetSystemLog.doc"
  echo "----------------------------------------------------------------"
else
  echo "No reset log: RESET was not pressed."
fi

# The unit holds the whole package, a short last block filled up with one
# byte 26 and zeros.
blocks=$(((package_size + 127) / 128))
fill=$((blocks * 128 - package_size))
{
  cat "$work/ResetPack.qv5"
  if ((fill > 0)); then
    printf '\032'
    head -c $((fill - 1)) /dev/zero
  fi
} >"$run/expected.bin"
intact=false
if [[ -f $run/received.bin ]] && cmp -s "$run/expected.bin" "$run/received.bin"; then
  intact=true
  echo "The unit received the package intact: $package_size bytes in $blocks blocks."
elif [[ -f $run/received.bin ]]; then
  echo "The unit did NOT receive the package intact ($(stat -c %s "$run/received.bin") bytes received)."
else
  echo "The unit received nothing."
fi
[[ -n $screenshot ]] && echo "Screenshot of the dialog after the run: $screenshot"
$intact
