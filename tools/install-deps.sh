#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need, skipping what is already there.
# Extra package names on the command line are installed too (the tlf check adds tlf and tmux).
set -euo pipefail

packages=(g++ cmake make pkg-config qt6-base-dev qt6-serialport-dev libgl-dev libgtest-dev direwolf xvfb xauth
          x11-utils imagemagick telnet iproute2 "$@")

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
