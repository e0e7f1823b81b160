#!/bin/sh
# A Wine prefix for the Windows tests: one per build folder, made once and
# reused, in which COM ports exist only where a test puts them.
#
#   wine_prefix.sh prepare PREFIX          make PREFIX if needed, keep Wine
#                                          from mapping ports, remove every
#                                          comN link
#   wine_prefix.sh link PREFIX N DEVICE    COMN of PREFIX is DEVICE (a
#                                          pseudo-terminal, say)
#   wine_prefix.sh unlink PREFIX N         COMN no longer exists
#   wine_prefix.sh clear PREFIX            no COM port at all
#   wine_prefix.sh run PREFIX COMMAND...   COMMAND (e.g. wine prog.exe) with
#                                          the environment of PREFIX
#   wine_prefix.sh stop PREFIX             end the prefix's Wine processes
#
# Left alone, Wine's mount manager maps COM1, COM2, ... to the machine's
# serial devices at every session start. A test must never reach a real
# port, so `prepare` switches it off for good in this prefix: only the
# links made here exist. The tests need nothing else of it.
set -eu

usage() { sed -n '2,16s/^# \{0,1\}//p' "$0" >&2; exit 2; }

[ $# -ge 2 ] || usage
command=$1
prefix=$2
shift 2
case $prefix in
  /*) ;;
  *) prefix=$(pwd)/$prefix ;;
esac

export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# Even before `prepare` has switched it off, never let the mount manager
# start in a session of ours; no Mono or Gecko installer either.
export WINEDLLOVERRIDES="mscoree,mshtml=;mountmgr.sys=d"
wine=${WINE:-wine}
wineserver=${WINESERVER:-wineserver}
mountmgr_key='HKLM\System\CurrentControlSet\Services\MountMgr'

clear_ports() {
  [ -d "$prefix/dosdevices" ] || return 0
  find "$prefix/dosdevices" -maxdepth 1 -type l -iname 'com[0-9]*' -exec rm -f {} +
}

port_number() {
  case $1 in
    ''|*[!0-9]*) echo "wine_prefix.sh: not a port number: $1" >&2; exit 2 ;;
  esac
}

require_prepared() {
  if [ ! -f "$prefix/.pantoline-prefix" ]; then
    echo "wine_prefix.sh: $prefix is not prepared; run: $0 prepare $prefix" >&2
    exit 1
  fi
}

prepare() {
  mkdir -p "$(dirname "$prefix")"
  # Two test runs of one build must not both create the prefix.
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    if [ -e "$prefix" ] && [ -n "$(ls -A "$prefix" 2>/dev/null)" ]; then
      echo "wine_prefix.sh: $prefix exists and is not a Wine prefix" >&2
      exit 1
    fi
    echo "wine_prefix.sh: creating the Wine prefix $prefix" >&2
    "$wineboot" -i >/dev/null 2>&1 || true
    "$wineserver" -w
    if [ ! -f "$prefix/system.reg" ]; then
      echo "wine_prefix.sh: Wine could not create $prefix" >&2
      exit 1
    fi
  fi
  # Asked every time: a newer Wine updates the prefix on its next start
  # (this call, under the overrides above) and may switch it back on.
  start=$("$wine" reg query "$mountmgr_key" /v Start 2>/dev/null | tr -d '\r' |
          awk '$1 == "Start" { print $3 }')
  if [ "$start" != "0x4" ]; then
    "$wine" reg add "$mountmgr_key" /v Start /t REG_DWORD /d 4 /f >/dev/null
  fi
  clear_ports
  touch "$prefix/.pantoline-prefix"
}

case $command in
  prepare)
    [ $# -eq 0 ] || usage
    wineboot=${WINEBOOT:-wineboot}
    prepare
    ;;
  link)
    [ $# -eq 2 ] || usage
    port_number "$1"
    require_prepared
    if [ ! -c "$2" ]; then
      echo "wine_prefix.sh: not a character device: $2" >&2
      exit 1
    fi
    ln -sfn "$2" "$prefix/dosdevices/com$1"
    ;;
  unlink)
    [ $# -eq 1 ] || usage
    port_number "$1"
    rm -f "$prefix/dosdevices/com$1"
    ;;
  clear)
    [ $# -eq 0 ] || usage
    clear_ports
    ;;
  run)
    [ $# -ge 1 ] || usage
    require_prepared
    exec "$@"
    ;;
  stop)
    [ $# -eq 0 ] || usage
    [ -d "$prefix" ] || exit 0
    "$wineserver" -k 2>/dev/null || true
    ;;
  *)
    usage
    ;;
esac
