#!/usr/bin/env bash
# The file index over a large library and over many short runs, through the real program under
# one Xvfb: how soon the first picture comes and the whole index is built on a first run, how
# long loading the saved index takes, how widely the first pictures of later runs and a long
# run at "delai 0" spread over the top folders, and whether short runs over a small library
# repeat a picture before all were shown.
#   bench/index-runs.sh BUILD_DIR [TOP] [SUB] [PER]
#   TOP top folders (200) of SUB sub-folders (100) of PER pictures (50): 1,000,000 files.
#   environment: STARTS (30), LONG_S (60), SHORT_RUNS (10), SHORT_STEPS (20), ESCAPES (5),
#   PARTS ("runs escape config": which parts to run)
# The pictures are hard links of one small PNG per top folder (ImageMagick's convert). Lines starting with "RESULT"
# are the figures; the temporary library is removed on exit.
set -euo pipefail
build=$(realpath "${1:?build folder}")
top=${2:-200}
sub=${3:-100}
per=${4:-50}
starts=${STARTS:-30}
long_s=${LONG_S:-60}
short_runs=${SHORT_RUNS:-10}
short_steps=${SHORT_STEPS:-20}
escapes=${ESCAPES:-5}
parts=${PARTS:-runs escape config}
part() { [[ " $parts " == *" $1 "* ]]; }
# shellcheck source=SCRIPTDIR/common.sh
source "$(dirname "$0")/common.sh"
begin_scratch index

build_tools
install_ours "$build"
cache="$work/ours/home/.cache/glimmerwall/index"

# make_library FOLDER TOP SUB PER: TOP folders tNNN of SUB folders sNNN of PER links each.
make_library() {
  local lib=$1 t
  mkdir -p "$lib" "$work/sources"
  for ((t = 0; t < $2; t++)); do
    "$work/tools/make-photo" 64 48 "$((t + 1))" | convert ppm:- "$work/sources/t$t.png"
  done
  perl -e '
    my ($lib, $top, $sub, $per, $src) = @ARGV;
    for my $t (0 .. $top - 1) {
      my $tdir = sprintf("%s/t%03d", $lib, $t);
      mkdir $tdir or die "$tdir: $!";
      for my $s (0 .. $sub - 1) {
        my $dir = sprintf("%s/s%03d", $tdir, $s);
        mkdir $dir or die "$dir: $!";
        link("$src/t$t.png", sprintf("%s/p%02d.png", $dir, $_)) or die "link: $!" for 0 .. $per - 1;
      }
    }' "$lib" "$2" "$3" "$4" "$work/sources"
}

# run_until PATTERN COUNT TIMEOUT_S: one start, ended once COUNT trace lines hold PATTERN.
run_until() {
  local pattern=$1 count=$2 timeout=$3 i
  run_start=$(now_ns)
  start_ours
  for ((i = 0; i < timeout * 100; i++)); do
    n=$(grep -c "$pattern" "$ours_trace" 2>/dev/null || true)
    ((${n:-0} >= count)) && break
    sleep 0.01
  done
  stop_program
  pid=""
}

# Milliseconds from the last start to the first trace line holding PATTERN.
since_start() { echo $(($(grep -m1 "$1" "$ours_trace" | trace_ms) - $(local_day_ms "$run_start"))); }

# Milliseconds between the first trace lines holding FROM and TO.
between() {
  local from to
  from=$(grep -m1 "$1" "$ours_trace" | trace_ms)
  to=$(grep -m1 "$2" "$ours_trace" | trace_ms)
  echo $((to - from))
}

# The top folders of the pictures shown, one a line.
shown_tops() { grep "just displayed" "$ours_trace" | sed -n 's|.*/\(t[0-9]*\)/s[0-9]*/p[0-9]*\.png>.*|\1|p'; }

lib="$work/library"
started=$(now_ns)
make_library "$lib" "$top" "$sub" "$per"
files=$((top * sub * per))
echo "library: $files files in $((top * sub)) folders, made in $((($(now_ns) - started) / 1000000000)) s"
find "$lib" >/dev/null
t0=$(now_ns)
find "$lib" >/dev/null
echo "RESULT index-runs files=$files program=find warm_ms=$((($(now_ns) - t0) / 1000000))"

start_xvfb

if part runs; then
configure_ours "path $lib" "delai 60000" "trace 3"

# A first run: no saved index yet.
rm -f "$cache"
# At "delai 60000" one picture comes: the walk is over when both lines are there.
run_until "saveIndex : \|just displayed" 2 120
echo "RESULT index-runs files=$files run=first first_picture_ms=$(since_start "just displayed")" \
  "index_ms=$(since_start "saveIndex : ")"
grep -m1 "loadIndex" "$ours_trace" || true

# Later runs: each start takes up the saved index and the round where the last one left it.
: >"$work/firsts"
: >"$work/loads"
for ((r = 0; r < starts; r++)); do
  run_until "just displayed" 1 20
  shown_tops | head -1 >>"$work/firsts"
  between "set_window_manager" "loadIndex : " >>"$work/loads"
done
echo "RESULT index-runs files=$files run=later starts=$starts" \
  "distinct_first_tops=$(sort -u "$work/firsts" | wc -l)" \
  "load_ms_median=$(median <"$work/loads") load_ms=[$(joined <"$work/loads")]"

configure_ours "path $lib" "delai 0" "trace 3"
start_ours
sleep "$long_s"
stop_program
pid=""
echo "RESULT index-runs files=$files run=long seconds=$long_s pictures=$(shown_tops | wc -l)" \
  "distinct_tops=$(shown_tops | sort -u | wc -l) of $top"

# Short runs over a small library: every picture once before any comes again. A run shows a
# picture every 20 ms and may show one more before it ends: every picture shown counts, and
# the first SHORT_RUNS x SHORT_STEPS of them must all differ.
small="$work/small"
rm -rf "$work/sources"
make_library "$small" 10 1 $((short_runs * short_steps / 10))
configure_ours "path $small" "delai 0" "trace 3"
: >"$work/short"
for ((r = 0; r < short_runs; r++)); do
  run_until "just displayed" "$short_steps" 20
  grep "just displayed" "$ours_trace" | sed 's/.*just displayed //' >>"$work/short"
done
library_size=$((short_runs * short_steps / 10 * 10))
echo "RESULT index-runs short_runs=$short_runs steps=$short_steps pictures=$(wc -l <"$work/short")" \
  "distinct_of_first_$library_size=$(head -"$library_size" "$work/short" | sort -u | wc -l)"
fi

# Escape on a first run, while the walk is under way: the time from the key to the end.
if part escape; then
  configure_ours "path $lib" "delai 60000" "trace 3"
  : >"$work/escapes"
  for ((r = 0; r < escapes; r++)); do
    rm -f "$cache"
    start_ours
    for ((i = 0; i < 1000; i++)); do
      grep -q "just displayed" "$ours_trace" 2>/dev/null && break
      sleep 0.01
    done
    sleep 0.3
    t0=$(now_ns)
    xdotool key Escape
    wait "$pid" || true
    echo $((($(now_ns) - t0) / 1000000)) >>"$work/escapes"
    pid=""
    # Under way when the only save is the one at the end, after "done".
    under_way=$(awk '/saveIndex : /{ print (seen_done ? "yes" : "no"); exit } /\] *done$/{ seen_done = 1 }' "$ours_trace")
    echo "escape $r: $(tail -1 "$work/escapes") ms, walk under way: $under_way"
  done
  echo "RESULT index-runs files=$files escape_ms_median=$(median <"$work/escapes") escape_ms=[$(joined <"$work/escapes")]"
fi

# Long configurations: 100,000 path lines naming the library's 20,000 folders five times
# over, and 1,000,000 sauf lines that exclude nothing.
if part config; then
  rm -f "$cache"
  perl -e 'my ($lib, $top, $sub) = @ARGV; for my $i (0 .. 99999) {
    my $f = $i % ($top * $sub); printf("path %s/t%03d/s%03d\n", $lib, int($f / $sub), $f % $sub) }' \
    "$lib" "$top" "$sub" >"$work/ours/bin/Glimmerwall.cfg"
  echo "delai 60000" >>"$work/ours/bin/Glimmerwall.cfg"
  run_until "just displayed" 1 60
  echo "RESULT index-runs config=100000_path_lines first_picture_ms=$(since_start "just displayed")" \
    "skipped_lines=$(grep -c "skipped, the same folder as" "$ours_trace")"
  rm -f "$cache"
  { echo "path $lib"; echo "delai 0"; perl -e 'printf("sauf /nowhere%d/\n", $_) for 0 .. 999999'; } \
    >"$work/ours/bin/Glimmerwall.cfg"
  run_until "just displayed" 20 120
  first=$(since_start "just displayed")
  echo "RESULT index-runs config=1000000_sauf_lines first_picture_ms=$first" \
    "ms_for_20_pictures=$(($(grep "just displayed" "$ours_trace" | sed -n 20p | trace_ms) - $(grep -m1 "just displayed" "$ours_trace" | trace_ms)))"
fi
echo "load average at the end: $(load_average)"
