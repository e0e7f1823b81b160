#!/bin/sh
# run_on_ptys.sh PREFIX PTY_PAIR WINE PROGRAM [ARGS...]
#
# Runs the Windows test PROGRAM under WINE in the prepared Wine prefix
# PREFIX, with COM3 and COM4 joined by a fresh pair of pseudo-terminals
# (PTY_PAIR relays between them): the program uses COM3 as the port under
# test and COM4 as the unit's end of the line. No other COM port exists in
# the prefix while it runs. PANTOLINE_PTY_PORTS="45 46" picks other numbers.
set -eu

[ $# -ge 4 ] || { sed -n '2,9s/^# \{0,1\}//p' "$0" >&2; exit 2; }
read -r port peer <<EOF
${PANTOLINE_PTY_PORTS:-3 4}
EOF
prefix=$1
pty_pair=$2
wine=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
ports="$here/wine_prefix.sh"

paths=$(mktemp)
relay=
finish() {
  "$ports" unlink "$prefix" "$port" || true
  "$ports" unlink "$prefix" "$peer" || true
  [ -z "$relay" ] || { kill "$relay" 2>/dev/null; wait "$relay" 2>/dev/null; } || true
  rm -f "$paths"
}
trap finish EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

"$pty_pair" >"$paths" &
relay=$!
tries=0
until [ -s "$paths" ]; do
  if [ $((tries += 1)) -gt 100 ] || ! kill -0 "$relay" 2>/dev/null; then
    echo "run_on_ptys.sh: $pty_pair did not start" >&2
    exit 1
  fi
  sleep 0.05
done
read -r line_a line_b <"$paths"

# A link left behind by an earlier run that was killed would point at a
# terminal that may now belong to someone else.
"$ports" clear "$prefix"
"$ports" link "$prefix" "$port" "$line_a"
"$ports" link "$prefix" "$peer" "$line_b"

PANTOLINE_TEST_PORT="\\\\.\\COM$port" PANTOLINE_TEST_PEER="\\\\.\\COM$peer" \
  "$ports" run "$prefix" "$wine" "$@"
