#!/usr/bin/env bash
# Peak resident size of the Linux program at a given screen size: a show of N distinct
# 1600 x 1200 JPEGs (from bench/make-photo, quality 90) with the default settings (cache 32,
# cachemb 128) and "delai 0", under an Xvfb of WIDTH x HEIGHT. VmHWM of /proc/PID/status is
# read once N pictures have been on screen ("just displayed" lines of the trace).
#   bench/memory.sh BUILD_DIR WIDTH HEIGHT [N] [RUNS]
# Lines starting with "RESULT" are the figures. Needs cjpeg (libjpeg-turbo-progs) and Xvfb.
set -euo pipefail
build=$(realpath "${1:?build folder}")
width=${2:?width}
height=${3:?height}
n=${4:-40}
runs=${5:-3}
# shellcheck source=SCRIPTDIR/common.sh
source "$(dirname "$0")/common.sh"
begin_scratch memory

build_tools
install_ours "$build"
mkdir -p "$work/photos"
for ((i = 0; i < n; i++)); do
  make_photo 1600 1200 "$((i + 1))" "$work/photos/p$(printf %02d "$i").jpg"
done

start_xvfb "${width}x${height}"

configure_ours "path $work/photos" "delai 0"
shown_count() {
  local c
  c=$(grep -c "just displayed" "$ours_trace" 2>/dev/null) || true
  echo "${c:-0}"
}
echo "load average at the start: $(load_average)"
for ((run = 1; run <= runs; run++)); do
  start_ours
  # At most 2 minutes for the N pictures.
  for ((t = 0; t < 2400; t++)); do
    (($(shown_count) >= n)) && break
    sleep 0.05
  done
  shown=$(shown_count)
  peak=$(peak_rss_mib "$pid")
  stop_program
  echo "RESULT memory screen=${width}x${height} run=$run shown=$shown peak_MiB=$peak"
done
echo "load average at the end: $(load_average)"
