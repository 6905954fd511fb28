#!/usr/bin/env bash
# Builds the Windows program in a Release cross build folder (build-win-release) against the
# decoders of scripts/windows-deps.sh, makes Glimmerwall-<version>-windows-x64.zip there and
# checks it: its files, and that the program needs no DLL but Windows' own.
set -euo pipefail
cd "$(dirname "$0")/.."

deps=$(./scripts/windows-deps.sh | tail -n 1)
build=build-win-release
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DGW_WINDOWS_DEPS="$deps" >/dev/null
cmake --build "$build" --target glimmerwall
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=Glimmerwall-$version-windows-x64
fail() { echo "package-windows: $*" >&2; exit 1; }

# Windows' own DLLs, the only ones the program may name (letter case ignored).
system_dlls=" kernel32.dll user32.dll gdi32.dll shell32.dll advapi32.dll ole32.dll oleaut32.dll
  comctl32.dll comdlg32.dll shlwapi.dll ws2_32.dll msvcrt.dll bcrypt.dll uxtheme.dll
  winmm.dll version.dll imm32.dll msimg32.dll "
imports=$(x86_64-w64-mingw32-objdump -p "$build/Glimmerwall.scr" | sed -n 's/^\tDLL Name: //p')
for dll in $imports; do
  lower=$(tr 'A-Z' 'a-z' <<<"$dll")
  [[ $system_dlls == *" $lower "* || $lower == api-ms-win-* ]] || fail "Glimmerwall.scr needs $dll"
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/$name/licenses"
cp "$build/Glimmerwall.scr" "$stage/$name/"
x86_64-w64-mingw32-strip "$stage/$name/Glimmerwall.scr"
# Text files with Windows line ends, for every editor there.
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
crlf res/Glimmerwall.cfg.example "$stage/$name/Glimmerwall.cfg.example"
crlf LICENSE "$stage/$name/LICENSE.txt"
# The README's Windows part, from its heading to the next one.
awk '/^## Windows$/ { on = 1 } /^## / && !/^## Windows$/ { on = 0 } on' README.md >"$stage/readme"
[[ -s $stage/readme ]] || fail "README.md has no Windows part"
crlf "$stage/readme" "$stage/$name/README-Windows.txt"
for notice in "$deps"/licenses/*.copyright; do
  crlf "$notice" "$stage/$name/licenses/$(basename "$notice" .copyright).txt"
done
# MinGW-w64's run time (its C run-time start-up code and winpthreads) is linked in too.
crlf /usr/share/doc/mingw-w64-x86-64-dev/copyright "$stage/$name/licenses/mingw-w64.txt"
zip_file=$PWD/$build/$name.zip
rm -f "$zip_file"
(cd "$stage" && zip -qr -X "$zip_file" "$name")

listing=$(unzip -Z1 "$zip_file")
for file in Glimmerwall.scr Glimmerwall.cfg.example README-Windows.txt LICENSE.txt \
            licenses/freeimage.txt licenses/libheif.txt licenses/libde265.txt licenses/dav1d.txt \
            licenses/libraw.txt licenses/libjpeg-turbo.txt licenses/mingw-w64.txt; do
  grep -qx "$name/$file" <<<"$listing" || fail "$file missing from $zip_file"
done
grep -q 'FreeImage.dll' "$stage/$name/README-Windows.txt" && fail "the README still asks for FreeImage.dll"
echo "package-windows: $zip_file checked ($(stat -c %s "$zip_file") bytes; imports: $(echo $imports))"
