#!/usr/bin/env bash
# Whole-process figures of the Linux program under Xvfb: time from start to the first picture
# on a generated library (beside the time `find` takes to list it), and the CPU it uses while
# it waits between pictures.
#   bench/first-picture.sh BUILD_DIR [FILES] [FOLDERS]
set -euo pipefail
build=$(realpath "${1:?build folder}")
files=${2:-100000}
folders=${3:-2000}
work=$(mktemp -d)
xvfb=""
trap '[ -n "$xvfb" ] && kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT

per=$((files / folders))
lib="$work/library"
mkdir -p "$lib"
convert -size 800x600 gradient:steelblue-khaki "$work/one.jpg"
echo "making $files files in $folders folders (hard links)..."
# A file system allows some 65,000 links to one file: a fresh template every 1,000 folders.
for ((d = 0; d < folders; d++)); do
  if ((d % 1000 == 0)); then
    rm -rf "$work/template" && mkdir -p "$work/template"
    cp "$work/one.jpg" "$work/template/p0.jpg"
    for ((f = 1; f < per; f++)); do ln "$work/template/p0.jpg" "$work/template/p$f.jpg"; done
  fi
  mkdir -p "$lib/d$((d / 100))"
  cp -al "$work/template" "$lib/d$((d / 100))/f$d"
done

export HOME="$work/home" XDG_STATE_HOME="$work/state" XDG_CONFIG_HOME="$work/config"
mkdir -p "$HOME" "$XDG_CONFIG_HOME/glimmerwall"
printf 'path %s\ndelai 60000\n' "$lib" > "$XDG_CONFIG_HOME/glimmerwall/Glimmerwall.cfg"
trace="$XDG_STATE_HOME/glimmerwall/Glimmerwall.txt"

Xvfb :77 -screen 0 1920x1080x24 -nolisten tcp -noreset 2>/dev/null &
xvfb=$!
sleep 1
export DISPLAY=:77

start=$(date +%s%N)
find "$lib" > /dev/null
end=$(date +%s%N)
echo "find lists the library (warm): $(( (end - start) / 1000000 )) ms"

mkdir -p "$work/bin" && cp "$build/glimmerwall" "$work/bin/"
start=$(date +%s%N)
"$work/bin/glimmerwall" &
show=$!
until grep -q "just displayed" "$trace" 2>/dev/null; do sleep 0.002; done
end=$(date +%s%N)
echo "first picture on screen (warm): $(( (end - start) / 1000000 )) ms"

sleep 2
ticks() { awk '{print $14 + $15}' "/proc/$show/stat"; }
t0=$(ticks); sleep 10; t1=$(ticks)
hz=$(getconf CLK_TCK)
echo "idle CPU between pictures: $(awk -v a="$t0" -v b="$t1" -v hz="$hz" 'BEGIN{printf "%.2f", (b-a)/hz/10*100}') % of a core"
kill -TERM $show; wait $show || true
