#!/bin/sh
# e2e.sh PROGRAM PROBE SIMUNIT ARTEFACTS [COURSE]
#
# The Windows program PROGRAM (Pantoline.exe) end to end under Wine, one
# start of it per course of the reset, each in a working folder of its own:
#   reset_success    RESET loads the package into the simulated unit on
#                    COM3; the system menu's Close ends the program
#   missing_package  no ResetPack.qv5: one message box, captioned with the
#                    executable's name (the program runs as Reset2.exe);
#                    then the About item of the system menu (commands 16
#                    and 17) and Escape
#   unit_not_found   a unit on COM3 that never answers the greeting; EXIT
# Without COURSE every course runs, each in a process of its own, and the
# ones that failed are named. PROBE is gui_probe.exe, which reads and
# drives the program's windows from outside; SIMUNIT the simulated unit (a
# Linux program). Screenshots are kept in ARTEFACTS, and so is the working
# folder of a course that failed. Needs DISPLAY and WINEPREFIX, a prepared
# prefix: with_display.sh gives both. Waits are long (minutes) so that a
# busy machine does not fail them.
set -eu

[ $# -eq 4 ] || [ $# -eq 5 ] || { sed -n '2,19s/^# \{0,1\}//p' "$0" >&2; exit 2; }
if [ $# -eq 4 ]; then
  failed=
  for course in reset_success missing_package unit_not_found; do
    "$0" "$@" $course || failed="$failed $course"
  done
  [ -z "$failed" ] || { echo "e2e.sh: failed:$failed" >&2; exit 1; }
  exit 0
fi
program=$1
probe_exe=$2
simunit=$3
artefacts=$4
case_name=$5
here=$(cd "$(dirname "$0")" && pwd)
ports="$here/../wine/wine_prefix.sh"
wine=${WINE:-wine}
: "${WINEPREFIX:?e2e.sh needs WINEPREFIX}"
: "${DISPLAY:?e2e.sh needs DISPLAY}"
. "$here/../gui_gtk/display.sh"

title='Lodestria - Reset Lodestria'
greeting="Make sure the Lodestria is ON and CONNECTED.  Click 'RESET LODESTRIA' below."
ports_list='Scan Ports,Com1,Com2,Com3,Com4,Com5,Com6,Com7,Com8,Com9,Com10,Com11,Com12,Com13,Com14,Com15,Com16,Com17,Com18'

work=$(mktemp -d)
mkdir -p "$artefacts"
app=
sim=
finish() {
  status=$?
  if [ $status -ne 0 ]; then
    kept="$artefacts/$case_name-failed"
    rm -rf "$kept"
    mkdir -p "$kept"
    screenshot "$kept/screen.png" 2>/dev/null || true
  fi
  if [ -n "$app" ]; then
    kill "$app" 2>/dev/null || true
  fi
  if [ -n "$sim" ]; then
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
  fi
  "$ports" clear "$WINEPREFIX" || true
  if [ $status -ne 0 ]; then
    cp -R "$work/." "$kept/" 2>/dev/null || true
    echo "e2e.sh $case_name: the working folder and a screenshot are kept in $kept" >&2
  fi
  rm -rf "$work"
}
trap finish EXIT
trap 'exit 143' HUP INT TERM

fail() {
  echo "e2e.sh $case_name: $*" >&2
  exit 1
}

probe() {
  "$wine" "$probe_exe" "$@"
}

# Compares a file with what is expected of it, given on standard input.
expect_file() {  # FILE WHAT
  cat >"$work/expected"
  cmp -s "$work/expected" "$1" || {
    diff -u "$work/expected" "$1" >&2 || true
    fail "$2 differs from the expected (above: - expected, + actual)"
  }
}

expect_output() {  # WHAT PROBE-ARGS...   (expected output on standard input)
  what=$1
  shift
  probe "$@" >"$work/actual" || fail "gui_probe $*: failed"
  expect_file "$work/actual" "$what"
}

# Starts the program in the working folder and waits for its dialog.
start() {  # EXECUTABLE
  (cd "$work" && exec "$wine" "$1") >"$work/program.out" 2>&1 &
  app=$!
  probe wait-window "$title" 120 || fail "the main dialog did not open"
}

# The dialog has gone and the process has ended, with status 0.
expect_exit() {
  probe wait-gone "$title" 120 || fail "the main dialog did not close"
  code=0
  wait "$app" || code=$?
  app=
  [ "$code" -eq 0 ] || fail "the program ended with status $code"
}

# The simulated unit, serving as COM3 of the prefix; no other COM port.
start_unit() {  # SIMUNIT-OPTIONS...
  "$simunit" "$@" >"$work/unit.out" 2>"$work/unit.err" &
  sim=$!
  wait_for "$sim" 30 "the simulated unit" -s "$work/unit.out" || {
    cat "$work/unit.err" >&2
    fail "the simulated unit did not start"
  }
  "$ports" link "$WINEPREFIX" 3 "$(head -n 1 "$work/unit.out")"
}

# The main dialog's controls in tab order, as the probe lists them.
controls() {  # RESET-STATE RESET-DEFAULT EXIT-DEFAULT STATUS RANGE-UPPER
  cat <<END
1 Button visible $1 tabstop$2 "RESET LODESTRIA"
2 Button visible enabled tabstop$3 "EXIT"
1000 Edit visible enabled tabstop "$4"
1001 msctls_progress32 visible enabled pos=0 range=0..$5
-1 Button visible enabled "Lodestria Reset Progress"
1005 Button visible enabled "<<Please follow these Instructions>>"
1007 ComboBox hidden enabled tabstop items=$ports_list
1004 Edit hidden enabled tabstop ""
1003 Button hidden enabled tabstop "Browse"
END
}

make_package() {  # BYTES
  head -c "$1" /dev/urandom >"$work/ResetPack.qv5"
}

# No COM port but the ones a case links: none left by an earlier run.
"$ports" clear "$WINEPREFIX"

case $case_name in
  reset_success)
    # A package that ends inside a block, so that the unit also receives
    # the pad byte after it.
    make_package 40000
    start_unit --once --output "$work/received.bin"
    start "$program"
    controls enabled ' default' '' "$greeting" 100 |
      expect_output "the dialog at start" controls "$title"

    probe click "$title" 1
    probe wait-text "$title" 1000 "Lodestria Updated.  Click the EXIT button below." 300 ||
      fail "the reset did not succeed"
    # 40000 bytes in units of 1028: the range ends at 38; the transfer's
    # last report (-1) leaves the bar at 0.
    controls disabled '' ' default' "Lodestria Updated.  Click the EXIT button below." 38 |
      expect_output "the dialog after the reset" controls "$title"
    screenshot "$artefacts/reset_done.png"

    # The whole package arrived, followed by the pad byte 26 and zeros up
    # to the end of its last 128-byte block.
    wait "$sim" || fail "the simulated unit failed"
    sim=
    { cat "$work/ResetPack.qv5"; printf '\032'; head -c 63 /dev/zero; } >"$work/sent.bin"
    cmp "$work/sent.bin" "$work/received.bin" || fail "the unit received other bytes"

    # The minutes of the completion entry depend on how long the run took.
    sed 's/^Completed in [0-9]* minutes $/Completed in N minutes /' "$work/ResetSystemLog.doc" >"$work/log"
    printf 'PANTOLINE LOG INITIATED \n System Download was found \n App Locate the Lodestria :: \n    QV5SUCCESS: Successful - Current Port = \\\\.\\Com3\nSet Progress Function:: \n    QV5SUCCESS: Successful\nApp Load System:: \n    QV5SUCCESS: Successful\nCompleted in N minutes \nPANTOLINE LOG COMPLETE \n' |
      expect_file "$work/log" "the reset log"
    # The system menu's Close ends the program.
    probe syscommand "$title" 0xF060
    expect_exit
    ;;

  missing_package)
    # Renamed, the program takes its new name as its message boxes' caption.
    cp "$program" "$work/Reset2.exe"
    printf 'the log of an earlier run\n' >"$work/ResetSystemLog.doc"
    start Reset2.exe
    probe key "$title" Return

    printf 'The ResetPack file could not be found!!\nicon=0\n' |
      expect_output "the message box" message-box Reset2 120
    # One box, owned by the dialog, which it disables while it is open.
    printf '"Reset2" #32770 owner="%s" enabled=1\n"%s" #32770 owner="" enabled=0\n' \
      "$title" "$title" | expect_output "the windows with the message box" windows
    probe key Reset2 Return
    probe wait-gone Reset2 120 || fail "the message box did not close"

    probe wait-text "$title" 1000 "The ResetPack file not found. Please EXIT the program." 120 ||
      fail "no status after the message box"
    printf '"%s" #32770 owner="" enabled=1\n' "$title" |
      expect_output "the windows after the message box" windows
    controls disabled '' ' default' "The ResetPack file not found. Please EXIT the program." 100 |
      expect_output "the dialog after the run" controls "$title"
    printf 'PANTOLINE LOG INITIATED \n ResetPack was NOT found \n PANTOLINE LOG COMPLETE \n' |
      expect_file "$work/ResetSystemLog.doc" "the reset log"

    # The About item works after a run as before it.
    for command in 16 17; do
      probe syscommand "$title" $command
      probe wait-window "About Pantoline" 120 || fail "command $command opened no about box"
      printf '"About Pantoline" #32770 owner="%s" enabled=1\n"%s" #32770 owner="" enabled=0\n' \
        "$title" "$title" | expect_output "the windows with the about box" windows
      printf '%s\n' '-1 Static visible enabled icon' \
        '-1 Static visible enabled "Pantoline Version 1.0"' \
        '1 Button visible enabled tabstop default "OK"' |
        expect_output "the about box" controls "About Pantoline"
      if [ $command = 16 ]; then
        screenshot "$artefacts/about_box.png"
        probe click "About Pantoline" 1
      else
        probe key "About Pantoline" Return
      fi
      probe wait-gone "About Pantoline" 120 || fail "OK did not close the about box"
      printf '"%s" #32770 owner="" enabled=1\n' "$title" |
        expect_output "the windows after the about box" windows
    done
    # Escape still ends the dialog after a run.
    probe key "$title" Escape
    expect_exit
    ;;

  unit_not_found)
    make_package 3084
    start_unit --greeting silent --verbose
    start "$program"
    probe click "$title" 1
    probe wait-text "$title" 1000 " Lodestria not found. Check your connections and try again." 300 ||
      fail "the run did not end in the not-found course"
    controls disabled '' ' default' " Lodestria not found. Check your connections and try again." 3 |
      expect_output "the dialog after the run" controls "$title"
    # The last name tried, COM32, does not exist: its open failed.
    printf 'PANTOLINE LOG INITIATED \n System Download was found \n App Locate the Lodestria :: \n    QV5INVALIDHANDLEVALUE: Invalid Comm Handle Value  - Current Port = NOT FOUND\nPANTOLINE LOG COMPLETE \n' |
      expect_file "$work/ResetSystemLog.doc" "the reset log"
    probe click "$title" 2
    expect_exit
    # COM3 was opened and greeted: the unit heard the greeting and kept
    # silent.
    grep -q 'greeting: silent' "$work/unit.err" || fail "the unit on COM3 was never greeted"
    ;;

  *)
    fail "no such course"
    ;;
esac
echo "e2e.sh $case_name: passed"
