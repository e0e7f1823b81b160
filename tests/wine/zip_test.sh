#!/bin/sh
# Makes the Windows release archive of the build in BUILD_DIR and checks
# it: Pantoline.exe and README.md in it, the exe stripped, and its version
# information and manifest in its resources.
# Usage: zip_test.sh BUILD_DIR OBJDUMP
set -u
build=$1 objdump=$2
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G ZIP -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
unzip -q "$work"/Pantoline-*-win64.zip -d "$work/unpacked" || fail "no Pantoline-*-win64.zip to unpack"
files=$(cd "$work/unpacked" && find . -type f | sort | tr '\n' ' ')
[ "$files" = "./Pantoline-1.0-win64/Pantoline.exe ./Pantoline-1.0-win64/README.md " ] ||
  fail "the archive holds: $files"
exe=$work/unpacked/Pantoline-1.0-win64/Pantoline.exe
"$objdump" -h "$exe" | grep -q debug && fail "Pantoline.exe has debug sections"
"$objdump" -t "$exe" | grep -q '\.text' && fail "Pantoline.exe keeps its symbol table"
# The fixed version record (signature, then file and product versions 1.0),
# and the texts of the version information, UTF-16 keys each before its value.
od -An -tx1 -v "$exe" | tr -d ' \n' | grep -q bd04effe0000010000000100000000000000010000000000 ||
  fail "no fixed file and product versions 1.0"
info=$(strings -el -n 3 "$exe" | tr '\n' ' ')
for pair in "ProductName Pantoline " "ProductVersion 1.0 " "FileVersion 1.0 " "FileDescription Pa"; do
  case $info in *" $pair"*) ;; *) fail "the version information lacks \"$pair\"" ;; esac
done
for part in 'level="asInvoker"' 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' \
  '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}' '>true</dpiAware>'; do
  grep -aqF "$part" "$exe" || fail "the manifest lacks $part"
done
