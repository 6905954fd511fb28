#!/usr/bin/env bash
# Installs what is missing on Debian 12 (apt-get; sudo when not root), by profile:
#   scripts/deps.sh run     the compiler, CMake and the program's libraries, a font
#   scripts/deps.sh test    run + everything the test command needs (the default)
#   scripts/deps.sh bench   run + the benchmarks and the programs they compare with
set -euo pipefail

profile=${1:-test}
run=(
  cmake g++ ninja-build pkg-config
  libfreeimage-dev libheif-dev libtiff-dev
  libsdl2-dev libsdl2-ttf-dev libfontconfig-dev libglib2.0-dev libx11-dev fonts-dejavu-core
  libwayland-dev wayland-protocols libxkbcommon-dev
)
case "$profile" in
  run) packages=("${run[@]}") ;;
  test)
    packages=("${run[@]}"
      googletest libgtest-dev libgmock-dev
      xvfb xdotool x11-utils imagemagick
      xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils
      libheif-examples libavif-bin
      g++-mingw-w64-x86-64 wine wine64 nasm meson
      clang libclang-rt-14-dev clang-format
      dpkg-dev file zip unzip nsis
      sway grim wtype)
    ;;
  bench)
    packages=("${run[@]}"
      googletest libgtest-dev libgmock-dev libbenchmark-dev
      xvfb xdotool x11-utils imagemagick
      feh libjpeg-turbo-progs strace linux-perf perl)
    ;;
  *)
    echo "usage: $0 [run|test|bench]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
# The variable goes through sudo as an argument of env: sudo resets the environment, and
# debconf would fall back to its dialogs. apt's and dpkg's own lines go to a log, shown only
# when the installation fails.
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
       "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
         -o Dpkg::Use-Pty=0 --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "deps.sh: the installation failed" >&2
  exit 1
fi
