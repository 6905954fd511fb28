#!/usr/bin/env bash
# Builds the Debian package in a Release build folder (build-release) and checks it: its
# files, its library dependencies, and that an extracted copy answers --version.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DGW_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
deb="$build/glimmerwall_${version}_${arch}.deb"
rm -f "$deb"
(cd "$build" && cpack -G DEB >/dev/null)
[[ -f "$deb" ]] || { echo "package: $deb was not made" >&2; exit 1; }

fail() { echo "package: $*" >&2; exit 1; }
contents=$(dpkg-deb -c "$deb")
for file in ./usr/bin/glimmerwall ./usr/share/man/man1/glimmerwall.1.gz \
            ./usr/share/doc/glimmerwall/copyright \
            ./usr/share/doc/glimmerwall/licenses/libfreeimage3.copyright \
            ./usr/share/doc/glimmerwall/licenses/libheif1.copyright \
            ./usr/share/doc/glimmerwall/Glimmerwall.cfg.example \
            ./usr/share/xscreensaver/config/glimmerwall.xml; do
  grep -q " $file\$" <<<"$contents" || fail "$file missing"
done
depends=$(dpkg-deb -f "$deb" Depends)
for library in libsdl2 libsdl2-ttf libfreeimage3 libfontconfig1 libglib2.0 libx11; do
  grep -q "$library" <<<"$depends" || fail "no dependency on $library in: $depends"
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg -x "$deb" "$scratch"
answer=$("$scratch/usr/bin/glimmerwall" --version)
[[ "$answer" == "glimmerwall $version" ]] || fail "--version said '$answer'"
echo "package: $deb checked ($(stat -c %s "$deb") bytes; depends: $depends)"
