#!/usr/bin/env bash
# CPU time per picture of the whole show, the decode worker included, at "delai 0": N
# different 6000 x 4000 photos (bench/make-photo, quality 90) shown once each under an Xvfb of
# 1920 x 1080, then Escape. The CPU time is that of every process the show started and
# waited for (the worker is reaped when the show ends), read with the shell's `times`.
#   bench/cpu-per-picture.sh BUILD_DIR [N] [RUNS]
# Lines starting with "RESULT" are the figures. Needs cjpeg (libjpeg-turbo-progs) and Xvfb.
set -euo pipefail
build=$(realpath "${1:?build folder}")
n=${2:-20}
runs=${3:-3}
work=$(mktemp -d)
trap 'stop_xvfb; rm -rf "$work"' EXIT
# shellcheck source=SCRIPTDIR/common.sh
source "$(dirname "$0")/common.sh"
build_tools
start_xvfb 1920x1080
mkdir -p "$work/photos"
for ((i = 0; i < n; i++)); do make_photo 6000 4000 "$i" "$work/photos/p$i.jpg"; done

for ((r = 1; r <= runs; r++)); do
  run="$work/run$r"
  mkdir -p "$run"
  cp "$build/glimmerwall" "$run/"
  printf 'trace 4\ndelai 0\ndossier %s\n' "$work/photos" >"$run/Glimmerwall.cfg"
  (
    XDG_STATE_HOME="$run/state" XDG_CACHE_HOME="$run/cache" "$run/glimmerwall" &
    pid=$!
    trace="$run/state/glimmerwall/Glimmerwall.txt"
    until [[ $(grep -c "just displayed" "$trace" 2>/dev/null || true) -ge $n ]]; do sleep 0.05; done
    xdotool key Escape
    wait "$pid" || true
    times >"$run/times.all"
    tail -n 1 "$run/times.all" >"$run/times"
  )
  # "0m12.345s 0m1.234s": the children's user and system time.
  awk -v n="$n" -v r="$r" '{
      split($1, u, /[ms]/); split($2, s, /[ms]/);
      total = u[1] * 60 + u[2] + s[1] * 60 + s[2];
      printf "RESULT cpu run=%d pictures=%d cpu_ms_per_picture=%.0f\n", r, n, total * 1000 / n }' \
    "$run/times"
done
