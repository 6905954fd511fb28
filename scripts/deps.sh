#!/usr/bin/env bash
# Installs what the build, the tests and the show need, on Debian 12 (apt-get; sudo when not root).
set -euo pipefail

packages=(
  cmake g++ ninja-build pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libfreeimage-dev
  libsdl2-dev libsdl2-ttf-dev libfontconfig-dev libglib2.0-dev fonts-dejavu-core
  xvfb xdotool x11-utils imagemagick
  g++-mingw-w64-x86-64 wine wine64
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
