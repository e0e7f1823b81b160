#!/bin/sh
# Makes the Debian package of the build in BUILD_DIR, checks its files and
# its dependencies, unpacks it and runs the unpacked pantoline and pantoline-cli.
# Usage: deb_test.sh BUILD_DIR
set -u
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack --config "$1/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/pantoline_*.deb) || fail "no pantoline_*.deb made"
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|' >"$work/files"
for file in /usr/bin/pantoline /usr/bin/pantoline-simunit /usr/bin/pantoline-cli \
  /usr/share/applications/org.pantoline.Pantoline.desktop /usr/share/metainfo/org.pantoline.Pantoline.metainfo.xml \
  $(for page in pantoline pantoline-simunit pantoline-cli; do echo /usr/share/man/man1/$page.1.gz; done) $(for size in 16 32 48 128 256; do
    echo /usr/share/icons/hicolor/${size}x$size/apps/pantoline.png; done); do
  grep -qx "$file" "$work/files" || fail "$file is not in the package"
done
grep -v -e '/$' -e '^/usr/bin/' -e '^/usr/share/' "$work/files" && fail "files outside /usr/bin and /usr/share"

depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libgtk-3-0 libgdk-pixbuf-2.0-0 libglib2.0-0; do
  echo "$depends" | sed 's/ *([^)]*)//g; s/, */\n/g' | grep -Fqx "$library" || fail "Depends lacks $library: $depends"
done

dpkg -x "$deb" "$work/root" || fail "dpkg -x"
version=$(env -u DISPLAY -u WAYLAND_DISPLAY "$work/root/usr/bin/pantoline" --version) || fail "the unpacked pantoline failed"
[ "$version" = "Pantoline 1.0" ] || fail "the unpacked pantoline says '$version'"
version=$("$work/root/usr/bin/pantoline-cli" --version) || fail "the unpacked pantoline-cli failed"
[ "$version" = "pantoline-cli 1.0" ] || fail "the unpacked pantoline-cli says '$version'"
echo "$deb: $(wc -l <"$work/files") entries; Depends: $depends"
