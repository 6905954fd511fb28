#!/usr/bin/env bash
# Time from start to the first picture on screen, ours beside feh (`feh -F -r -z LIBRARY`: full
# screen, recursive, random order), on a generated library of hard links, warm and cold, under
# one Xvfb. Both programs are timed the same way: bench/screen-watch reads the middle row and
# column of the screen every millisecond from before the start until a pixel is no longer
# black. Ours is also timed by its "just displayed" trace line. `find` listing the library is
# timed alongside, once warm and once cold.
#   bench/first-picture.sh BUILD_DIR [FILES] [FOLDERS]
#   environment: WARM_RUNS (5), COLD_RUNS (3), PHOTO_SIZE ("1600 1200")
# Cold runs drop the page, dentry and inode caches before each start (root only); the
# binaries and libraries of both programs are then cold too.
# Lines starting with "RESULT" are the figures; the temporary library is removed on exit.
set -euo pipefail
build=$(realpath "${1:?build folder}")
files=${2:-100000}
folders=${3:-2000}
warm_runs=${WARM_RUNS:-5}
cold_runs=${COLD_RUNS:-3}
read -r photo_w photo_h <<<"${PHOTO_SIZE:-1600 1200}"
# shellcheck source=SCRIPTDIR/common.sh
source "$(dirname "$0")/common.sh"
begin_scratch first

build_tools
install_ours "$build"

# --- the library: FOLDERS folders of FILES/FOLDERS hard links each, 100 folders a group ---
per=$((files / folders))
# ext4 allows some 65,000 links to one file: each source photo serves at most 60,000 names.
folders_per_source=$((60000 / per))
sources=$(((folders + folders_per_source - 1) / folders_per_source))
lib="$work/library"
mkdir -p "$work/sources" "$lib"
for ((s = 0; s < sources; s++)); do
  make_photo "$photo_w" "$photo_h" "$((s + 100))" "$work/sources/s$s.jpg"
done
started=$(now_ns)
perl -e '
  my ($lib, $folders, $per, $fps, $src) = @ARGV;
  for my $d (0 .. $folders - 1) {
    my $group = sprintf("%s/g%03d", $lib, int($d / 100));
    mkdir $group;
    my $dir = sprintf("%s/f%05d", $group, $d);
    mkdir $dir or die "$dir: $!";
    my $source = sprintf("%s/s%d.jpg", $src, int($d / $fps));
    for my $f (0 .. $per - 1) {
      link($source, sprintf("%s/p%02d.jpg", $dir, $f)) or die "link: $!";
    }
  }' "$lib" "$folders" "$per" "$folders_per_source" "$work/sources"
echo "library: $((per * folders)) files ($photo_w x $photo_h JPEG, $sources sources) in $folders folders," \
  "made in $((($(now_ns) - started) / 1000000000)) s"

start_xvfb
configure_ours "path $lib" "delai 60000"

cold_ok=0
if can_drop_caches; then cold_ok=1; else echo "cold runs skipped: cannot write /proc/sys/vm/drop_caches"; fi

# find, for scale: the least any program that lists the whole library must spend.
time_find() {
  local t0
  t0=$(now_ns)
  find "$lib" >/dev/null
  echo $((($(now_ns) - t0) / 1000000))
}
find "$lib" >/dev/null
echo "RESULT first-picture files=$files folders=$folders state=warm program=find ms=$(time_find)"
if ((cold_ok)); then
  drop_caches
  echo "RESULT first-picture files=$files folders=$folders state=cold program=find ms=$(time_find)"
fi

# measure PROGRAM STATE: one start; prints "SCREEN_MS TRACE_MS" (TRACE_MS "-" for feh).
measure() {
  local program=$1 state=$2
  wait_black_screen
  "$work/tools/screen-watch" first 600 >"$work/seen" &
  local watcher=$!
  sleep 0.2 # the watcher has its display and its first reading
  [[ "$state" == cold ]] && drop_caches
  local start
  start=$(now_ns)
  if [[ "$program" == ours ]]; then start_ours; else start_feh -F -r -z "$lib"; fi
  if ! wait "$watcher"; then
    echo "no picture from $program" >&2
    stop_program
    return 1
  fi
  local seen screen_ms trace_ms="-"
  seen=$(cat "$work/seen")
  screen_ms=$(((seen - start) / 1000000))
  if [[ "$program" == ours ]]; then
    local i line
    for ((i = 0; i < 500; i++)); do
      line=$(grep -m1 "just displayed" "$ours_trace" 2>/dev/null || true)
      [[ -n "$line" ]] && break
      sleep 0.01
    done
    [[ -n "$line" ]] && trace_ms=$(($(trace_ms <<<"$line") - $(local_day_ms "$start")))
  fi
  stop_program
  pid=""
  echo "$screen_ms $trace_ms"
}

states=(warm)
((cold_ok)) && states+=(cold)
for state in "${states[@]}"; do
  runs=$warm_runs
  [[ "$state" == cold ]] && runs=$cold_runs
  # One unmeasured start of each warms what the warm runs are to find warm.
  [[ "$state" == warm ]] && { measure ours warm >/dev/null; measure feh warm >/dev/null; }
  : >"$work/ours.txt"
  : >"$work/feh.txt"
  for ((r = 0; r < runs; r++)); do
    # Alternating, so that both meet the same load from the other users of the machine.
    measure ours "$state" >>"$work/ours.txt"
    measure feh "$state" >>"$work/feh.txt"
  done
  for program in ours feh; do
    all=$(cut -d' ' -f1 "$work/$program.txt" | joined)
    line="RESULT first-picture files=$files folders=$folders state=$state program=$program"
    line+=" screen_ms=$(cut -d' ' -f1 "$work/$program.txt" | median) runs=[$all]"
    if [[ "$program" == ours ]]; then
      line+=" trace_ms=$(cut -d' ' -f2 "$work/$program.txt" | median)"
      line+=" trace_runs=[$(cut -d' ' -f2 "$work/$program.txt" | joined)]"
    fi
    echo "$line"
  done
done
echo "load average at the end: $(load_average)"
