#!/bin/sh
# A Wine prefix for the Windows tests: one per build folder, made once and
# reused, in which COM ports exist only where a test puts them.
#
#   wine_prefix.sh prepare PREFIX        make PREFIX if needed, keep Wine from
#                                        mapping ports, remove every comN link
#   wine_prefix.sh link PREFIX N DEVICE  COMN of PREFIX is DEVICE
#   wine_prefix.sh unlink PREFIX N       COMN no longer exists
#   wine_prefix.sh clear PREFIX          no COM port at all
#   wine_prefix.sh run PREFIX COMMAND... COMMAND with the environment of PREFIX
#   wine_prefix.sh stop PREFIX           end the prefix's Wine processes
#
# Left alone, Wine's mount manager maps COM1, COM2, ... to the machine's
# serial devices at every session start. A test must never reach a real
# port, so `prepare` switches it off for good in this prefix.
set -eu

usage() { sed -n '2,15s/^# \{0,1\}//p' "$0" >&2; exit 2; }
[ $# -ge 2 ] || usage
command=$1
case $2 in /*) prefix=$2 ;; *) prefix=$(pwd)/$2 ;; esac
shift 2
export WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}"
# Even before `prepare` has switched it off, never let the mount manager
# start in a session of ours; no Mono or Gecko installer either.
export WINEDLLOVERRIDES="mscoree,mshtml=;mountmgr.sys=d"
wine=${WINE:-wine}
wineserver=${WINESERVER:-wineserver}
mountmgr_key='HKLM\System\CurrentControlSet\Services\MountMgr'

clear_ports() {
  [ ! -d "$prefix/dosdevices" ] ||
    find "$prefix/dosdevices" -maxdepth 1 -type l -iname 'com[0-9]*' -exec rm -f {} +
}
# need ARGC WANTED [PORT]: the argument count, and a port number if given.
need() {
  [ "$1" -eq "$2" ] || usage
  case ${3-0} in ''|*[!0-9]*) echo "wine_prefix.sh: not a port number: $3" >&2; exit 2 ;; esac
}
prepared() {
  [ -f "$prefix/.pantoline-prefix" ] ||
    { echo "wine_prefix.sh: $prefix is not prepared; run: $0 prepare $prefix" >&2; exit 1; }
}

case $command in
  prepare)
    need $# 0
    mkdir -p "$(dirname "$prefix")"
    # Two test runs of one build must not both create the prefix.
    exec 9>"$prefix.lock"
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      [ -z "$(ls -A "$prefix" 2>/dev/null)" ] ||
        { echo "wine_prefix.sh: $prefix exists and is not a Wine prefix" >&2; exit 1; }
      echo "wine_prefix.sh: creating the Wine prefix $prefix" >&2
      "${WINEBOOT:-wineboot}" -i >/dev/null 2>&1 || true
      "$wineserver" -w
      [ -f "$prefix/system.reg" ] || { echo "wine_prefix.sh: Wine could not create $prefix" >&2; exit 1; }
    fi
    # Asked every time: a newer Wine updates the prefix on its next start
    # (this call, under the overrides above) and may switch it back on.
    start=$("$wine" reg query "$mountmgr_key" /v Start 2>/dev/null | tr -d '\r' |
            awk '$1 == "Start" { print $3 }')
    [ "$start" = 0x4 ] || "$wine" reg add "$mountmgr_key" /v Start /t REG_DWORD /d 4 /f >/dev/null
    clear_ports
    touch "$prefix/.pantoline-prefix" ;;
  link)
    need $# 2 "$1"
    prepared
    [ -c "$2" ] || { echo "wine_prefix.sh: not a character device: $2" >&2; exit 1; }
    ln -sfn "$2" "$prefix/dosdevices/com$1" ;;
  unlink) need $# 1 "$1"; rm -f "$prefix/dosdevices/com$1" ;;
  clear) need $# 0; clear_ports ;;
  run) [ $# -ge 1 ] || usage; prepared; exec "$@" ;;
  stop) need $# 0; [ ! -d "$prefix" ] || "$wineserver" -k 2>/dev/null || true ;;
  *) usage ;;
esac
