#!/bin/sh
# run_on_ptys.sh PREFIX WINE PROGRAM [ARGS...]
#
# Runs the Windows test PROGRAM under WINE in the prepared Wine prefix
# PREFIX, with COM3 and COM4 joined by a fresh pair of pseudo-terminals that
# socat relays between, a null-modem cable: COM3 is the port under test,
# COM4 the unit's end (PANTOLINE_PTY_PORTS="45 46" picks other numbers). The
# test ends the line for good, as a pulled adapter, by creating the file
# PANTOLINE_TEST_HANGUP. No other COM port exists in the prefix meanwhile.
set -eu

[ $# -ge 3 ] || { sed -n '2,9s/^# \{0,1\}//p' "$0" >&2; exit 2; }
read -r port peer <<EOF2
${PANTOLINE_PTY_PORTS:-3 4}
EOF2
prefix=$1
shift
ports="$(cd "$(dirname "$0")" && pwd)/wine_prefix.sh"
work=$(mktemp -d) pids=
finish() {
  "$ports" clear "$prefix" || true
  for pid in $pids; do kill "$pid" 2>/dev/null || true; done
  wait || true
  rm -rf "$work"
}
trap finish EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

socat pty,rawer,link="$work/a" pty,rawer,link="$work/b" &
relay=$!
pids=$relay tries=0
until [ -e "$work/a" ] && [ -e "$work/b" ]; do
  [ $((tries += 1)) -le 100 ] || { echo "run_on_ptys.sh: socat did not start" >&2; exit 1; }
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

# A link left behind by an earlier run that was killed would point at a
# terminal that may now belong to someone else.
"$ports" clear "$prefix"
"$ports" link "$prefix" "$port" "$(readlink "$work/a")"
"$ports" link "$prefix" "$peer" "$(readlink "$work/b")"
PANTOLINE_TEST_PORT="\\\\.\\COM$port" PANTOLINE_TEST_PEER="\\\\.\\COM$peer" \
  PANTOLINE_TEST_HANGUP="Z:$(echo "$work/hangup" | tr / '\\')" "$ports" run "$prefix" "$@"
