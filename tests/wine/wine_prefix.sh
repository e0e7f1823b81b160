#!/bin/sh
# A Wine prefix for the Windows tests: one per build folder, made once and
# reused, in which COM ports exist only where a test puts them.
#
#   wine_prefix.sh prepare PREFIX        make PREFIX if needed, keep Wine from
#                                        mapping ports, remove every comN link
#   wine_prefix.sh run PREFIX COMMAND... COMMAND with the environment of PREFIX
#   wine_prefix.sh line PREFIX COMMAND... the same, on a line of COM ports
#   wine_prefix.sh stop PREFIX           end the prefix's Wine processes
#
# Left alone, Wine's mount manager maps COM1, COM2, ... to the machine's
# serial devices at every session start. A test must never reach a real
# port, so `prepare` switches it off for good in this prefix.
#
# `line` joins COM3 and COM4 with a fresh pair of pseudo-terminals that
# socat relays between, a null-modem cable: COM3 is the port under test,
# COM4 the unit's end (PANTOLINE_PTY_PORTS="45 46" picks other numbers). The
# test ends the line for good, as a pulled adapter, by creating the file
# PANTOLINE_TEST_HANGUP. No other COM port exists in the prefix meanwhile.
set -eu

usage() { sed -n '2,19s/^# \{0,1\}//p' "$0" >&2; exit 2; }
[ $# -ge 2 ] || usage
command=$1
case $2 in /*) prefix=$2 ;; *) prefix=$(pwd)/$2 ;; esac
shift 2
export WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}"
# Even before `prepare` has switched it off, never let the mount manager
# start in a session of ours; no Mono or Gecko installer either.
export WINEDLLOVERRIDES="mscoree,mshtml=;mountmgr.sys=d"
wine=${WINE:-wine}
mountmgr_key='HKLM\System\CurrentControlSet\Services\MountMgr'
fail() { echo "wine_prefix.sh: $*" >&2; exit 1; }
clear_ports() {
  [ ! -d "$prefix/dosdevices" ] ||
    find "$prefix/dosdevices" -maxdepth 1 -type l -iname 'com[0-9]*' -exec rm -f {} +
}
prepared() { [ -f "$prefix/.pantoline-prefix" ] || fail "$prefix is not prepared; run: $0 prepare $prefix"; }

case $command/$# in
  prepare/0)
    mkdir -p "$(dirname "$prefix")"
    # Two test runs of one build must not both create the prefix.
    exec 9>"$prefix.lock"
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      [ -z "$(ls -A "$prefix" 2>/dev/null)" ] || fail "$prefix exists and is not a Wine prefix"
      echo "wine_prefix.sh: creating the Wine prefix $prefix" >&2
      "${WINEBOOT:-wineboot}" -i >/dev/null 2>&1 || true
      "${WINESERVER:-wineserver}" -w
      [ -f "$prefix/system.reg" ] || fail "Wine could not create $prefix"
    fi
    # Asked every time: a newer Wine updates the prefix on its next start
    # (this call, under the overrides above) and may switch it back on.
    start=$("$wine" reg query "$mountmgr_key" /v Start 2>/dev/null | tr -d '\r' |
            awk '$1 == "Start" { print $3 }')
    [ "$start" = 0x4 ] || "$wine" reg add "$mountmgr_key" /v Start /t REG_DWORD /d 4 /f >/dev/null
    clear_ports
    touch "$prefix/.pantoline-prefix" ;;
  run/[!0]*) prepared; exec "$@" ;;
  # -k only signals the session: until it is gone, a new Wine process may
  # still join it, with the display of the run before.
  stop/0) [ ! -d "$prefix" ] || { "${WINESERVER:-wineserver}" -k; "${WINESERVER:-wineserver}" -w; } 2>/dev/null || true ;;
  line/[!0]*) prepared ;;
  *) usage ;;
esac
[ "$command" = line ] || exit 0

numbers=${PANTOLINE_PTY_PORTS:-3 4}
port=${numbers%% *} peer=${numbers##* }
work=$(mktemp -d) pids=
finish() {
  clear_ports
  kill $pids 2>/dev/null || true
  wait || true
  rm -rf "$work"
}
trap finish EXIT
trap 'exit 143' HUP INT TERM
socat pty,rawer,link="$work/a" pty,rawer,link="$work/b" &
relay=$! pids=$! tries=0
until [ -e "$work/a" ] && [ -e "$work/b" ]; do
  [ $((tries += 1)) -le 100 ] || fail "socat did not start"
  sleep 0.05
done
# Each terminal stays open as the controlling terminal of a session of its
# own: otherwise closing the test's ports would end socat, and the first
# session leader to open one (the wineserver) would take it and receive
# SIGHUP when the line ends.
for end in a b; do
  setsid -c sleep 86400 <"$work/$end" &
  pids="$pids $!"
done
( while [ ! -e "$work/hangup" ]; do sleep 0.02; done; kill "$relay" ) &
pids="$pids $!"
# Cleared first: a link left behind by an earlier run that was killed would
# point at a terminal that may now belong to someone else.
clear_ports
ln -s "$(readlink "$work/a")" "$prefix/dosdevices/com$port"
ln -s "$(readlink "$work/b")" "$prefix/dosdevices/com$peer"
PANTOLINE_TEST_PORT="\\\\.\\COM$port" PANTOLINE_TEST_PEER="\\\\.\\COM$peer" \
  PANTOLINE_TEST_HANGUP="Z:$(echo "$work/hangup" | tr / '\\')" "$@"
