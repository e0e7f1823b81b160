#!/bin/sh
# Makes the Windows release archive of the build in BUILD_DIR and checks
# it: Pantoline.exe and README.md in it, the exe stripped, and its version
# information and manifest as Windows reads them (version_probe under Wine).
# Usage: zip_test.sh BUILD_DIR OBJDUMP WINE VERSION_PROBE
set -u
build=$1 objdump=$2 wine=$3 probe=$4
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G ZIP -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
zip=$(ls "$work"/Pantoline-*-win64.zip) || fail "no Pantoline-*-win64.zip made"
unzip -q "$zip" -d "$work/unpacked" || fail "unzip"
files=$(cd "$work/unpacked" && find . -type f | sort | tr '\n' ' ')
[ "$files" = "./Pantoline-1.0-win64/Pantoline.exe ./Pantoline-1.0-win64/README.md " ] ||
  fail "the archive holds: $files"
exe=$work/unpacked/Pantoline-1.0-win64/Pantoline.exe
"$objdump" -h "$exe" | grep -q debug && fail "Pantoline.exe has debug sections"
"$objdump" -t "$exe" | grep -q '\.text' && fail "Pantoline.exe keeps its symbol table"
echo "Pantoline.exe: $(wc -c <"$exe") bytes"
"$wine" "$probe" "$(winepath -w "$exe" 2>/dev/null || echo "$exe")"
