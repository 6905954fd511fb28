#!/usr/bin/env bash
# Cross-builds the decoders of the Windows program from Debian's source packages, each as a
# static library for x86_64-w64-mingw32, and prints the prefix that holds them (the last line
# of its output; the rest goes to standard error):
#   scripts/windows-deps.sh            build what is missing, print the prefix
#   scripts/windows-deps.sh --update   read the archive's source lists again first
# The sources come through a deb-src list of this script's own, made from the machine's binary
# archive, in a folder of its own: the machine's apt configuration is left alone. The prefix
# lives under ${XDG_CACHE_HOME:-~/.cache}/glimmerwall-windows-deps, keyed by the versions of the
# source packages and this script's hash: a second run builds nothing, a new version rebuilds.
# Long builds run under `nice -n 10` with GW_DEPS_JOBS jobs (2 by default).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache=${GW_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/glimmerwall-windows-deps}
jobs=${GW_DEPS_JOBS:-2}
host=x86_64-w64-mingw32
update=0
[[ ${1:-} == --update ]] && update=1

# The source packages, in build order (each may use the ones before it).
packages=(zlib libjpeg-turbo libpng1.6 tiff libwebp imath openexr libraw freeimage libde265 dav1d
          libheif)

log() { echo "windows-deps: $*" >&2; }
quiet() { # runs "$@" with its output in a log file, shown only when it fails
  local name=$1; shift
  if ! "$@" >"$logs/$name.log" 2>&1; then
    tail -n 60 "$logs/$name.log" >&2
    log "failed: $name (whole log: $logs/$name.log)"
    return 1
  fi
}

# --- The sources ---------------------------------------------------------------------------
apt_dir=$cache/apt
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
apt_opts=(
  -o Dir::Etc::sourcelist="$apt_dir/sources.list"
  -o Dir::Etc::sourceparts="$apt_dir/sources.list.d"
  -o Dir::State::Lists="$apt_dir/lists"
  -o Dir::Cache="$apt_dir/cache"
  -o Dir::Cache::pkgcache="" -o Dir::Cache::srcpkgcache=""
  -o APT::Sandbox::User="$(id -un)"
  -o Acquire::Languages=none
  -o APT::Get::Only-Source=true
)

# The machine's Debian archives (deb822 or one-line lists) as deb-src entries.
write_sources() {
  local out=$apt_dir/sources.list.d/glimmerwall-src.sources
  : >"$apt_dir/sources.list"
  {
    for f in /etc/apt/sources.list.d/*.sources; do
      [[ -e $f ]] || continue
      awk 'BEGIN { RS = ""; ORS = "\n\n" }
           /URIs:[^\n]*debian/ && /Types:[^\n]*deb/ {
             sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [[ -e $f ]] || continue
      awk '$1 == "deb" && /debian/ {
             sub(/^deb[ \t]+(\[[^]]*\][ \t]+)?/, "")
             n = split($0, w, /[ \t]+/)
             printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents:", w[1], w[2]
             for (i = 3; i <= n; i++) printf " %s", w[i]
             printf "\n\n" }' "$f"
    done
  } >"$out.new"
  if [[ ! -s $out.new ]]; then
    # No Debian archive named: the release's own on deb.debian.org.
    . /etc/os-release
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s %s-updates\nComponents: main\n\n' \
      "$VERSION_CODENAME" "$VERSION_CODENAME" >"$out.new"
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian-security\nSuites: %s-security\nComponents: main\n' \
      "$VERSION_CODENAME" >>"$out.new"
  fi
  mv "$out.new" "$out"
}

logs=$cache/logs
mkdir -p "$logs"
write_sources
# The lists are read again once a day, or when asked.
if [[ $update == 1 || -z $(find "$apt_dir/lists" -maxdepth 1 -name '*Sources*' -mtime -1 -print -quit) ]]; then
  log "reading the source lists"
  quiet apt-update apt-get "${apt_opts[@]}" update
  rm -f "$cache"/src/*.unavailable
fi

# The version of each source package: the one the machine's own binary packages were built
# from when the archive still has it (the Linux build decodes with those), else the newest that
# can be fetched. Fetched and unpacked with Debian's patches applied, once per version.
srcs=$cache/src
mkdir -p "$srcs"
candidates() {
  local p=$1 mine
  mine=$(dpkg-query -W -f='${source:Package} ${source:Version}\n' 2>/dev/null |
         awk -v p="$p" '$1 == p { print $2; exit }')
  apt-cache "${apt_opts[@]}" showsrc "$p" 2>/dev/null |
    awk -v p="$p" '/^Package:/ { ok = ($2 == p) } ok && /^Version:/ { print $2 }' | sort -u |
    while read -r v; do
      if [[ $v == "$mine" ]]; then echo "0 $v"; else echo "1 $v"; fi
    done | sort -k1,1n -k2,2Vr | cut -d' ' -f2
}
# A version that the archive lists but cannot deliver is marked so, until the lists are read again.
fetch() {
  local p=$1 v=$2 dir=$srcs/$1_$2
  [[ -d $dir/tree ]] && return 0
  [[ -e $dir.unavailable ]] && return 1
  log "fetching $p $v"
  rm -rf "$dir.tmp" && mkdir -p "$dir.tmp"
  if ! (cd "$dir.tmp" && apt-get "${apt_opts[@]}" source "$p=$v") >"$logs/fetch-$p.log" 2>&1; then
    rm -rf "$dir.tmp"
    touch "$dir.unavailable"
    return 1
  fi
  local tree
  tree=$(find "$dir.tmp" -mindepth 1 -maxdepth 1 -type d | head -n 1)
  [[ -n $tree ]] || return 1
  mv "$tree" "$dir.tmp/tree"
  mv "$dir.tmp" "$dir"
}
declare -A version source
for p in "${packages[@]}"; do
  for v in $(candidates "$p"); do
    if fetch "$p" "$v"; then version[$p]=$v; break; fi
    [[ -e $srcs/${p}_$v.unavailable && $update == 0 ]] || log "$p $v cannot be fetched; trying an older version"
  done
  [[ -n ${version[$p]:-} ]] || { log "no source of $p (see $logs/fetch-$p.log)"; exit 1; }
  source[$p]=$srcs/${p}_${version[$p]}/tree
done

script_hash=$(sha256sum "$0" | cut -c1-16)
key=$( { for p in "${packages[@]}"; do echo "$p=${version[$p]}"; done; echo "$script_hash"; } |
      sha256sum | cut -c1-16)
top=$cache/$key
prefix=$top/prefix
if [[ -e $top/done ]]; then
  echo "$prefix"
  exit 0
fi
mkdir -p "$top/stamps" "$top/work" "$prefix"
for p in "${packages[@]}"; do echo "$p ${version[$p]}"; done >"$top/versions.txt"

# --- The builds ----------------------------------------------------------------------------
work=$top/work
export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig PKG_CONFIG_PATH=""
# LibRaw as its MinGW makefile builds it: no DLL, no threads. Every user of its headers must
# see the same definitions, or its classes differ in layout.
libraw_defs="LIBRAW_NODLL LIBRAW_NOTHREADS"
static_defs="-DLIBDE265_STATIC_BUILD -DLIBHEIF_STATIC_BUILD"

cat >"$top/toolchain.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $host-gcc-posix)
set(CMAKE_CXX_COMPILER $host-g++-posix)
set(CMAKE_RC_COMPILER $host-windres)
set(CMAKE_ASM_NASM_COMPILER nasm)
set(CMAKE_FIND_ROOT_PATH $prefix /usr/$host)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
cat >"$top/cross.meson" <<EOF
[binaries]
c = '$host-gcc-posix'
cpp = '$host-g++-posix'
ar = '$host-ar'
strip = '$host-strip'
windres = '$host-windres'
nasm = 'nasm'
pkgconfig = 'pkg-config'
[host_machine]
system = 'windows'
cpu_family = 'x86_64'
cpu = 'x86_64'
endian = 'little'
EOF

# A fresh copy of a package's source to build in: a failed build leaves nothing behind.
tree_of() {
  rm -rf "$work/$1" "$work/$1-build"
  cp -a "${source[$1]}" "$work/$1"
  echo "$work/$1"
}
cmake_build() { # cmake_build NAME SOURCE-DIR CMAKE-OPTION...
  local name=$1 src=$2
  shift 2
  quiet "$name-configure" cmake -S "$src" -B "$work/$name-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$top/toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF "$@"
  quiet "$name-build" nice -n 10 cmake --build "$work/$name-build" -j "$jobs"
  quiet "$name-install" cmake --install "$work/$name-build"
}
# A static library of the listed sources, built by a CMake file of this script's (for the
# packages whose own builds do not know MinGW). Installs the library only.
cmake_sources() { # cmake_sources NAME SOURCE-DIR "FILES" "INCLUDES" "DEFINITIONS" "OPTIONS"
  local name=$1 src=$2
  mkdir -p "$src/glimmerwall"
  cat >"$src/glimmerwall/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.18)
project($name C CXX)
add_library($name STATIC $3)
target_include_directories($name PRIVATE $4)
target_compile_definitions($name PRIVATE $5)
target_compile_options($name PRIVATE $6)
install(TARGETS $name ARCHIVE DESTINATION lib)
EOF
  cmake_build "$name" "$src/glimmerwall"
}
zlib_opts=(-DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include")

build_zlib() {
  local src
  src=$(tree_of zlib)
  cmake_sources z "$src" "$(cd "$src" && ls -d "$src"/*.c | tr '\n' ' ')" "$src" "" "-O2"
  install -D -m 644 -t "$prefix/include" "$src/zlib.h" "$src/zconf.h"
}
build_libjpeg-turbo() {
  cmake_build libjpeg-turbo "$(tree_of libjpeg-turbo)" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
    -DWITH_TURBOJPEG=OFF -DWITH_JPEG8=OFF -DREQUIRE_SIMD=ON
}
build_libpng1.6() {
  cmake_build libpng1.6 "$(tree_of libpng1.6)" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
    -DPNG_EXECUTABLES=OFF "${zlib_opts[@]}"
}
build_tiff() {
  cmake_build tiff "$(tree_of tiff)" -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF \
    -Dtiff-docs=OFF -Dcxx=OFF -Djbig=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF -Dlerc=OFF \
    -Dlibdeflate=OFF -Djpeg12=OFF -DJPEG_LIBRARY="$prefix/lib/libjpeg.a" \
    -DJPEG_INCLUDE_DIR="$prefix/include" "${zlib_opts[@]}"
}
build_libwebp() {
  local tools=()
  for t in ANIM_UTILS CWEBP DWEBP GIF2WEBP IMG2WEBP VWEBP WEBPINFO WEBPMUX EXTRAS; do
    tools+=("-DWEBP_BUILD_$t=OFF")
  done
  cmake_build libwebp "$(tree_of libwebp)" "${tools[@]}"
}
build_imath() {
  cmake_build imath "$(tree_of imath)" -DPYTHON=OFF
}
build_openexr() {
  cmake_build openexr "$(tree_of openexr)" -DOPENEXR_BUILD_TOOLS=OFF -DOPENEXR_INSTALL_TOOLS=OFF \
    -DOPENEXR_INSTALL_EXAMPLES=OFF -DOPENEXR_INSTALL_DOCS=OFF \
    -DImath_DIR="$prefix/lib/cmake/Imath" "${zlib_opts[@]}"
}
build_libraw() {
  local src files
  src=$(tree_of libraw)
  # The objects of LibRaw's MinGW makefile, each from its source file.
  files=$(sed -n '/^LIB_OBJECTS=/,/^$/p' "$src/Makefile.mingw" | grep -o 'object/[a-z0-9_]*\.o' |
    sed 's|object/||; s|\.o$||' | while read -r o; do find "$src/src" -name "$o.cpp" | head -n 1; done |
    tr '\n' ' ')
  cmake_sources raw "$src" "$files" "$src" "$libraw_defs NO_LCMS NO_JASPER NO_JPEG" "-w"
  cp -r "$src/libraw" "$prefix/include/"
}
build_freeimage() {
  local src plugin files="" base
  src=$(tree_of freeimage)
  local wanted=" BMP GIF JPEG PNG TIFF WEBP EXR RAW "
  # Only the plugins of the shown formats are compiled. Each other one keeps its place in the
  # list, as a format's number is its place there, with an entry that reads nothing.
  plugin=$src/Source/FreeImage/Plugin.cpp
  awk -v wanted="$wanted" '
    /^#include "Plugin.h"/ { print; print "static void DLL_CALLCONV InitAbsent(Plugin *, int) {}"; next }
    match($0, /AddNode\(Init[A-Z0-9]+/) {
      name = substr($0, RSTART + 12, RLENGTH - 12)
      if (index(wanted, " " name " ") == 0) {
        if ($0 ~ /AddNode\(Init[A-Z0-9]+\)/) sub(/AddNode\(Init[A-Z0-9]+\)/, "AddNode(InitAbsent, NULL, \"" name "\")")
        else sub(/AddNode\(Init[A-Z0-9]+/, "AddNode(InitAbsent")
      }
    }
    { print }' "$plugin" >"$plugin.new"
  mv "$plugin.new" "$plugin"
  grep -q 'AddNode(InitAbsent' "$plugin" && grep -q '^static void DLL_CALLCONV InitAbsent' "$plugin" ||
    { log "freeimage: the plugin list has changed shape"; return 1; }
  for f in "$src"/Source/FreeImage/*.c* "$src"/Source/Metadata/*.cpp "$src"/Source/FreeImageToolkit/*.cpp; do
    base=$(basename "${f%.*}")
    case $base in
      Plugin?*) [[ $wanted == *" $(echo "${base#Plugin}" | tr a-z A-Z) "* ]] || continue ;;
      J2KHelper | MNGHelper | JPEGTransform) continue ;;
    esac
    files+=" $f"
  done
  cmake_sources freeimage "$src" "$files" \
    "$src/Source $src/Source/Metadata $src/Source/FreeImageToolkit $prefix/include $prefix/include/Imath $prefix/include/OpenEXR" \
    "FREEIMAGE_LIB NO_LCMS $libraw_defs" "-fexceptions -w"
  install -D -m 644 -t "$prefix/include" "$src/Source/FreeImage.h"
}
build_libde265() {
  cmake_build libde265 "$(tree_of libde265)" -DENABLE_SDL=OFF -DENABLE_DECODER=OFF \
    -DENABLE_ENCODER=OFF -DCMAKE_C_FLAGS="$static_defs" -DCMAKE_CXX_FLAGS="$static_defs"
}
build_dav1d() {
  local src
  src=$(tree_of dav1d)
  quiet dav1d-configure meson setup "$work/dav1d-build" "$src" --cross-file "$top/cross.meson" \
    --prefix "$prefix" --libdir lib --buildtype release --default-library static \
    -Denable_tools=false -Denable_tests=false -Denable_examples=false
  quiet dav1d-build nice -n 10 ninja -C "$work/dav1d-build" -j "$jobs"
  quiet dav1d-install meson install -C "$work/dav1d-build"
}
build_libheif() {
  cmake_build libheif "$(tree_of libheif)" -DENABLE_PLUGIN_LOADING=OFF -DWITH_LIBDE265=ON \
    -DWITH_LIBDE265_PLUGIN=OFF -DWITH_DAV1D=ON -DWITH_DAV1D_PLUGIN=OFF -DWITH_X265=OFF \
    -DWITH_AOM_DECODER=OFF -DWITH_AOM_ENCODER=OFF -DWITH_SvtEnc=OFF -DWITH_RAV1E=OFF \
    -DWITH_EXAMPLES=OFF -DWITH_GDK_PIXBUF=OFF -DWITH_FUZZERS=OFF \
    -DCMAKE_C_FLAGS="$static_defs" -DCMAKE_CXX_FLAGS="$static_defs"
}

for p in "${packages[@]}"; do
  [[ -e $top/stamps/$p ]] && continue
  log "building $p ${version[$p]}"
  start=$SECONDS
  "build_$p"
  log "built $p in $((SECONDS - start)) s"
  touch "$top/stamps/$p"
done

# What the program's build links, in an order that static linking resolves: each library before
# the ones it calls.
cat >"$prefix/decoders.cmake" <<EOF
# The decoders cross-built by scripts/windows-deps.sh (key $key), as one target.
add_library(gw_decoders INTERFACE IMPORTED)
set_target_properties(gw_decoders PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "$prefix/include"
  INTERFACE_COMPILE_DEFINITIONS "FREEIMAGE_LIB;LIBHEIF_STATIC_BUILD;LIBDE265_STATIC_BUILD"
  INTERFACE_LINK_LIBRARIES "$(for l in heif de265 dav1d freeimage raw webpmux webpdemux webp tiff \
    OpenEXRUtil-3_1 OpenEXR-3_1 OpenEXRCore-3_1 IlmThread-3_1 Iex-3_1 Imath-3_1 png16 jpeg z; do
      printf '%s;' "$prefix/lib/lib$l.a"; done)ws2_32")
EOF
# The licence notices of what is linked, for the packages to ship.
mkdir -p "$prefix/licenses"
for p in "${packages[@]}"; do
  cp "${source[$p]}/debian/copyright" "$prefix/licenses/$p.copyright"
done
touch "$top/done"
log "the decoders are in $prefix"
echo "$prefix"
