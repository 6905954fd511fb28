#!/usr/bin/env bash
# Builds the Windows installer with NSIS (Debian's nsis package):
#   scripts/installer.sh <Glimmerwall.scr> <setup.exe> [FreeImage.dll]
set -euo pipefail
[[ $# -ge 2 ]] || { echo "usage: $0 <Glimmerwall.scr> <setup.exe> [FreeImage.dll]" >&2; exit 2; }
here=$(cd "$(dirname "$0")/../installer" && pwd)
scr=$(realpath "$1")
out=$(realpath -m "$2")
extra=()
[[ $# -ge 3 ]] && extra=("-DFREEIMAGE=$(realpath "$3")")
cd "$here"
makensis -V2 -DSCR="$scr" -DOUTFILE="$out" "${extra[@]}" glimmerwall.nsi
