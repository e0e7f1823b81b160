#!/bin/sh
# The programs' command lines, without a display: each case runs one
# program and checks its exit status and the first line of the stream
# named (out or err), matched as a grep -E pattern. Then the simulated
# unit's links and signals.
# Usage: command_line_test.sh PANTOLINE SIMUNIT BENCH CLI
pantoline=$1 simunit=$2 bench=$3 cli=$4 failed=0
unset DISPLAY WAYLAND_DISPLAY
check() {  # program status stream pattern arguments...
  program=$1 status=$2 stream=$3 pattern=$4
  shift 4
  "$program" "$@" >out.txt 2>err.txt </dev/null
  got=$?
  line=$(head -n 1 $stream.txt)
  if [ "$got" != "$status" ] || ! printf '%s\n' "$line" | grep -Eq -- "$pattern"; then
    echo "FAIL: $(basename "$program") $*: exit $got (want $status), $stream: '$line' (want /$pattern/)"
    failed=1
  fi
}
work=$(mktemp -d) && cd "$work" || exit 1
check "$pantoline" 0 out '^Usage: pantoline ' --help
check "$pantoline" 0 out '^Pantoline 1\.0$' --version
check "$pantoline" 2 err "unrecognized option '--bogus'" --bogus
check "$pantoline" 2 err "unexpected argument 'extra'" --version extra
check "$pantoline" 1 err 'cannot open the display' --display=:65000
check "$simunit" 0 out '^Usage: pantoline-simunit ' --port=3 --greeting split --once -h
check "$simunit" 2 err 'bad value "x" for --port' --port x
check "$simunit" 2 err 'go together' --wine-port 1
# Values the program could never use are refused, not taken in silence
# (the -h after them answers only where they were taken).
for port in 0 33; do
  check "$simunit" 2 err "bad value \"$port\" for --port \\(a port from 1 to 32\\)" --port $port -h
done
check "$simunit" 2 err 'bad value "0" for --wine-port' --wine-prefix . --wine-port 0 -h
check timeout 2 err 'no Wine prefix "no-such-prefix"' 10 "$simunit" --wine-prefix no-such-prefix --wine-port 3
check "$bench" 2 err '--size must be 1 to 458751 bytes, not 0' --size 0 -h
check "$bench" 2 err '--size must be 1 to 458751 bytes, not 458752' --size=458752 -h
check "$bench" 0 out '^Usage: pantoline-bench ' --size 10 --checksum --reply-delay-ms=3 --help
check "$bench" 2 err 'bad value "-1"' --size=-1
# pantoline-cli refuses before it reads a package or touches a port.
check "$cli" 0 out '^Usage: pantoline-cli reset ' --help
check "$cli" 0 out '^pantoline-cli 1\.0$' --version
check "$cli" 0 out '^Usage: pantoline-cli reset ' reset --quiet --help
check "$cli" 2 err 'a command is needed'
check "$cli" 2 err "unknown command 'rest'" rest
check "$cli" 2 err "unrecognized option '--bogus'" reset --bogus
check "$cli" 2 err "unexpected argument 'COM1'" reset COM1
check "$cli" 2 err "requires an argument" reset --port
check "$cli" 2 err "bad port 'COM257'" reset --port COM257
check "$cli" 2 err '--all searches every port' reset --all --port COM1
check "$cli" 2 err '--all searches every port' reset --log x.doc --all
check "$cli" 2 err "unrecognized option '--all'" ports --all
for program in "$pantoline" "$simunit" "$bench" "$cli"; do
  "$program" --help | awk -v p="$(basename "$program")" 'length > 80 { print "FAIL: " p " --help is " length " wide"; exit 1 }' || failed=1
done

# The simulated unit replaces pantoline's pin and Wine's link with its own
# device while it serves, and puts them back on SIGTERM and on SIGINT, even
# though a shell ignores SIGINT in what it starts in the background.
mkdir -p pins/pantoline/ports wine/dosdevices
links() { echo "$(readlink pins/pantoline/ports/com1) $(readlink wine/dosdevices/com3)"; }
for signal in INT TERM; do
  ln -sfn old pins/pantoline/ports/com1 && ln -sfn old wine/dosdevices/com3 && rm -f out.txt
  "$simunit" --port 1 --config-home "$PWD/pins" --wine-prefix "$PWD/wine" --wine-port=3 >out.txt &
  unit=$! tries=0
  until [ -s out.txt ] || [ $((tries += 1)) -gt 200 ]; do sleep 0.05; done
  served=$(links) device=$(head -n 1 out.txt)
  (sleep 10 && kill -KILL $unit) >/dev/null 2>&1 &  # should the signal go unheard
  kill -$signal $unit
  wait $unit
  got="$? $(links)"
  kill $! 2>/dev/null
  if [ -z "$device" ] || [ "$served" != "$device $device" ] || [ "$got" != "0 old old" ]; then
    echo "FAIL: pantoline-simunit on SIG$signal: served '$served' on '$device', then '$got'"
    failed=1
  fi
done
cd / && rm -rf "$work"
exit $failed
