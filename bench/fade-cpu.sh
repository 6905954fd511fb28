#!/usr/bin/env bash
# The show's CPU during a fade and after it, at 1920x1080 and 3840x2160: `fade 3000` on the
# first picture, the show's process sampled over 2 s in the middle of the fade, then over 2 s
# once it is over (the X server's share during the fade beside it).
#   bench/fade-cpu.sh [PROGRAM]   (default: build/glimmerwall)
set -euo pipefail
cd "$(dirname "$0")/.."
program=$(realpath "${1:-build/glimmerwall}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=bench/common.sh
source bench/common.sh
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)

for size in 1920x1080 3840x2160; do
  start_xvfb "$size"
  mkdir -p "$work/run" "$work/home"
  cp "$program" "$work/run/glimmerwall"
  printf 'dossier %s\ndelai 100000\nfade 3000\ntrace 4\n' "$PWD/samples" >"$work/run/Glimmerwall.cfg"
  trace="$work/home/.local/state/glimmerwall/Glimmerwall.txt"
  rm -f "$trace"
  (cd "$work/run" && HOME="$work/home" exec ./glimmerwall) >/dev/null 2>&1 &
  show=$!
  until grep -q "just displayed" "$trace" 2>/dev/null; do sleep 0.05; done
  sleep 0.5
  a=$(ticks "$show") xa=$(ticks "$xvfb_pid")
  sleep 2
  b=$(ticks "$show") xb=$(ticks "$xvfb_pid")
  sleep 1
  c=$(ticks "$show")
  sleep 2
  d=$(ticks "$show")
  kill "$show"
  wait "$show" 2>/dev/null || true
  echo "$size: during the fade the show $(((b - a) * 100 / (2 * hz))) % of a core, the X server" \
    "$(((xb - xa) * 100 / (2 * hz))) %; after it $(((d - c) * 100 / (2 * hz))) %;" \
    "$(grep -o 'fade : .*' "$trace" | head -n 1)"
  stop_xvfb
done
