#!/usr/bin/env bash
# How long Escape and SIGTERM take to end the show while a picture is being decoded, for the
# three slow decodes: a 12 MP HEIC, a 24 MP PNG and a progressive JPEG whose first AC scan is
# repeated 2000 times. Each run starts the show on that picture alone (nothing else on screen:
# the first step waits for it), sends the key or the signal once the decode has been asked for,
# and times the moment of sending to the end of the process.
#   bench/decode-stall.sh [BUILD_FOLDER] [RUNS]
set -euo pipefail
build=$(cd "${1:-build-release}" && pwd)
runs=${2:-7}
work=$(mktemp -d)
trap 'stop_xvfb; rm -rf "$work"' EXIT
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
start_xvfb 1920x1080

mkdir -p "$work/pictures"
convert -size 4000x3000 plasma:fractal "$work/base.png"
convert "$work/base.png" -resize 6000x4000! "$work/pictures/photo24.png"
heif-enc -q 80 -o "$work/pictures/photo12.heic" "$work/base.png" >/dev/null
convert -size 4000x3000 xc:'#808040' -interlace JPEG -quality 90 "$work/progressive.jpg"
# The first scan whose spectral selection starts above 0, repeated 2000 times in place.
perl -e '
  local $/; my $d = <STDIN>; my $at = 0;
  while (($at = index($d, "\xff\xda", $at)) >= 0) {
    my $len = unpack("n", substr($d, $at + 2, 2)); my $ns = ord(substr($d, $at + 4, 1));
    my $ss = ord(substr($d, $at + 5 + 2 * $ns, 1)); my $end = $at + 2 + $len;
    $end++ while !(substr($d, $end, 1) eq "\xff" && ord(substr($d, $end + 1, 1)) != 0
                   && (ord(substr($d, $end + 1, 1)) & 0xf8) != 0xd0);
    if ($ss) { substr($d, $end, 0) = substr($d, $at, $end - $at) x 2000; last }
    $at = $end;
  }
  print $d;' <"$work/progressive.jpg" >"$work/pictures/scans2000.jpg"

median_and_worst() { sort -n | awk '{v[NR]=$1} END {printf "median %d ms, worst %d ms\n", v[int((NR+1)/2)], v[NR]}'; }

for picture in photo12.heic photo24.png scans2000.jpg; do
  for how in Escape SIGTERM; do
    for ((i = 0; i < runs; i++)); do
      run="$work/run-$picture-$how-$i"
      mkdir -p "$run/pictures" "$run/state"
      cp "$build/glimmerwall" "$run/"
      ln -s "$work/pictures/$picture" "$run/pictures/$picture"
      printf 'trace 4\ndelai 100000\ndossier %s\n' "$run/pictures" >"$run/Glimmerwall.cfg"
      XDG_STATE_HOME="$run/state" XDG_CACHE_HOME="$run/cache" "$run/glimmerwall" &
      pid=$!
      trace="$run/state/glimmerwall/Glimmerwall.txt"
      until grep -q "request(" "$trace" 2>/dev/null; do sleep 0.01; done
      sleep 0.1 # well inside the decode
      start=$(date +%s%N)
      if [[ $how == Escape ]]; then xdotool key Escape; else kill -TERM "$pid"; fi
      wait "$pid" || true
      end=$(date +%s%N)
      grep -q "load( .*$picture ) win:" "$trace" && echo "note: $picture was decoded before the end" >&2
      echo $(((end - start) / 1000000))
    done | median_and_worst | sed "s/^/$picture $how: /"
  done
done
