#!/bin/sh
# Makes the Windows release archive of the build in BUILD_DIR and checks
# it: Pantoline.exe, pantoline-cli.exe and README.md in it, both programs
# stripped, Pantoline.exe's version information and manifest in its
# resources, and pantoline-cli.exe, run from the archive under Wine in
# the prefix of wine_prefix.sh, answering --version.
# Usage: zip_test.sh BUILD_DIR OBJDUMP WINE_PREFIX_SCRIPT PREFIX
set -u
build=$1 objdump=$2 prefix_script=$3 prefix=$4
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G ZIP -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
unzip -q "$work"/Pantoline-*-win64.zip -d "$work/unpacked" || fail "no Pantoline-*-win64.zip to unpack"
dir=$work/unpacked/Pantoline-1.0-win64
files=$(cd "$dir" && find . -type f | LC_ALL=C sort | tr '\n' ' ')
[ "$files" = "./Pantoline.exe ./README.md ./pantoline-cli.exe " ] || fail "the archive holds: $files"
for exe in "$dir/Pantoline.exe" "$dir/pantoline-cli.exe"; do
  "$objdump" -h "$exe" | grep -q debug && fail "$exe has debug sections"
  "$objdump" -t "$exe" | grep -q '\.text' && fail "$exe keeps its symbol table"
done
# pantoline-cli.exe runs from the archive alone; its line ends are Windows'.
version=$("$prefix_script" run "$prefix" wine "$dir/pantoline-cli.exe" --version) || fail "pantoline-cli.exe --version failed"
[ "$version" = "$(printf 'pantoline-cli 1.0\r')" ] || fail "pantoline-cli.exe --version said: $version"
exe=$dir/Pantoline.exe
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
