#!/usr/bin/env bash
# Time per picture over a slideshow of 24 MP JPEGs, and peak resident size, ours beside feh,
# under one Xvfb; djpeg on the same files for the floor.
#   bench/slideshow.sh BUILD_DIR [PHOTOS] [RUNS]
# PHOTOS (40) different 6000 x 4000 photos from bench/make-photo, more than the 32 pictures
# of our default cache, so that the first cycle of our random order decodes every one:
#   ours: "delai 0" (a step every 20 ms timer tick), default cache, one folder;
#   feh:  feh -F -D 0.001 FOLDER (full screen, next picture 1 ms after the last is shown).
# Both are timed the same way: bench/screen-watch notes each change of the middle row and
# column of the screen; the time per picture is the median interval between changes, over
# PHOTOS pictures a run (the first picture included, its start-up not). Ours is also timed
# by the intervals between its "just displayed" trace lines. Peak resident size is VmHWM,
# read once the last picture is on screen, and so is the CPU time of the whole process (all
# threads, start-up included) divided by the number of pictures: a figure that the load of
# other work on the machine does not inflate. Lines starting with "RESULT" are the figures.
set -euo pipefail
build=$(realpath "${1:?build folder}")
photos=${2:-40}
runs=${3:-3}
# shellcheck source=SCRIPTDIR/common.sh
source "$(dirname "$0")/common.sh"
begin_scratch slides

build_tools
install_ours "$build"
mkdir -p "$work/photos"
started=$(now_ns)
for ((i = 0; i < photos; i++)); do
  make_photo 6000 4000 "$((i + 1))" "$work/photos/photo$(printf %02d "$i").jpg"
done
echo "$photos photos of 6000 x 4000 made in $((($(now_ns) - started) / 1000000000)) s," \
  "$(du -sm "$work/photos" | cut -f1) MB"

# The floor: libjpeg-turbo alone, full size and at the 1/2 DCT scale.
for scale in 1/1 1/2 1/4; do
  : >"$work/djpeg.txt"
  for f in "$work"/photos/*.jpg; do
    t0=$(now_ns)
    djpeg -scale "$scale" -outfile /dev/null "$f"
    echo $((($(now_ns) - t0) / 1000000)) >>"$work/djpeg.txt"
  done
  echo "RESULT slideshow program=djpeg scale=$scale per_picture_ms=$(median <"$work/djpeg.txt")"
done

start_xvfb
configure_ours "path $work/photos" "delai 0"

# run PROGRAM N: one show until N pictures have been on screen; appends the intervals between
# screen changes to $work/PROGRAM.screen, ours' trace intervals to $work/ours.trace, and the
# peak resident size to $work/PROGRAM.rss.
run() {
  local program=$1 n=$2
  wait_black_screen
  "$work/tools/screen-watch" changes "$n" 600 >"$work/changes" &
  local watcher=$!
  sleep 0.2
  if [[ "$program" == ours ]]; then start_ours; else start_feh -F -D 0.001 "$work/photos"; fi
  if ! wait "$watcher"; then
    echo "$program: fewer than $n pictures" >&2
  fi
  peak_rss_mib "$pid" >>"$work/$program.rss"
  awk -v c="$(cpu_ns "$pid")" -v n="$n" 'BEGIN { printf "%.0f\n", c / n / 1e6 }' >>"$work/$program.cpu"
  stop_program
  pid=""
  awk 'NR > 1 { printf "%.0f\n", ($1 - last) / 1e6 } { last = $1 }' "$work/changes" \
    | tee -a "$work/$program.screen" | median >>"$work/$program.screen-medians"
  if [[ "$program" == ours ]]; then
    grep "just displayed" "$ours_trace" | head -n "$n" | trace_ms \
      | awk 'NR > 1 { print $1 - last } { last = $1 }' \
      | tee -a "$work/ours.trace" | median >>"$work/ours.trace-medians"
  fi
}

for ((r = 0; r < runs; r++)); do
  run ours "$photos"
  run feh "$photos"
done

for program in ours feh; do
  line="RESULT slideshow program=$program per_picture_ms=$(median <"$work/$program.screen")"
  line+=" run_medians=[$(joined <"$work/$program.screen-medians")]"
  [[ "$program" == ours ]] &&
    line+=" trace_per_picture_ms=$(median <"$work/ours.trace") trace_run_medians=[$(joined <"$work/ours.trace-medians")]"
  line+=" cpu_per_picture_ms=$(median <"$work/$program.cpu") cpu_runs=[$(joined <"$work/$program.cpu")]"
  line+=" peak_rss_MiB=$(median <"$work/$program.rss") rss_runs=[$(joined <"$work/$program.rss")]"
  echo "$line"
done
echo "target peak: 32 frames of 1920 x 1080 x 3 bytes + 30 MiB = $(awk 'BEGIN { printf "%.1f", 32 * 1920 * 1080 * 3 / 1048576 + 30 }') MiB"
echo "load average at the end: $(load_average)"
