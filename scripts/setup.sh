#!/usr/bin/env bash
# Installs the Debian packages that building and testing Pantoline need,
# only those that are missing: quick when everything is there already.
# Given package names, it sees to those alone.
set -euo pipefail

packages=("$@")
((${#packages[@]} > 0)) || packages=(
  cmake g++ make pkg-config                 # the Linux build
  libgtest-dev libgmock-dev googletest      # tests; the sources also build with MinGW
  libgtk-3-dev                              # the Linux desktop program
  nlohmann-json3-dev                        # pantoline-cli's JSON (header-only)
  g++-mingw-w64-x86-64                      # the Windows program
  wine wine64                               # runs the Windows program and its tests
  socat                                     # joins two pseudo-terminals into a line
  xvfb xauth xdotool imagemagick            # a virtual display, key presses, screenshots
  weston                                    # a headless Wayland compositor for the GTK tests
  desktop-file-utils appstream              # validate the desktop entry and metainfo
  dpkg-dev file unzip                       # check the .deb (dependencies) and the .zip
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
((${#missing[@]} == 0)) && exit 0

echo "Installing: ${missing[*]}" >&2
sudo=()
((EUID == 0)) || sudo=(sudo)
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >&2
