#!/usr/bin/env bash
# CPU used between pictures, once the index is complete, ours beside feh, under one Xvfb: a
# small library (4 folders of 5 photos), ours with "delai 60000", feh with -F -r -D 60. After the
# first picture and 3 s more, each program is left alone for SECONDS while its CPU time (all
# threads, from /proc/PID/task/*/schedstat), its context switches (wake-ups) and the X
# server's CPU time are read. Then, for ours only, what the idle loop does: system calls
# counted by strace -c over 10 s, and perf's CPU profile over the same span when perf works.
#   bench/idle-cpu.sh BUILD_DIR [SECONDS] [RUNS]
# Lines starting with "RESULT" are the figures.
set -euo pipefail
build=$(realpath "${1:?build folder}")
seconds=${2:-20}
runs=${3:-3}
# shellcheck source=SCRIPTDIR/common.sh
source "$(dirname "$0")/common.sh"
begin_scratch idle

build_tools
install_ours "$build"
for ((d = 0; d < 4; d++)); do
  mkdir -p "$work/library/d$d"
  for ((f = 0; f < 5; f++)); do make_photo 1600 1200 "$((d * 5 + f + 1))" "$work/library/d$d/p$f.jpg"; done
done
start_xvfb
configure_ours "path $work/library" "delai 60000"

switches() {
  cat /proc/"$1"/task/*/status 2>/dev/null |
    awk '/ctxt_switches/ { s += $2 } END { print s + 0 }'
}

# measure PROGRAM: one start; prints "CPU_PERCENT WAKEUPS_PER_S XVFB_CPU_PERCENT TRACE_BYTES".
measure() {
  local program=$1
  wait_black_screen
  if [[ "$program" == ours ]]; then start_ours; else start_feh -F -r -D 60 "$work/library"; fi
  if ! "$work/tools/screen-watch" first 60 >/dev/null; then
    echo "no picture from $program" >&2
    stop_program
    return 1
  fi
  sleep 3
  local c0 s0 x0 b0=0 t0 c1 s1 x1 b1=0 t1
  [[ "$program" == ours ]] && b0=$(stat -c %s "$ours_trace")
  c0=$(cpu_ns "$pid") s0=$(switches "$pid") x0=$(cpu_ns "$xvfb_pid") t0=$(now_ns)
  sleep "$seconds"
  c1=$(cpu_ns "$pid") s1=$(switches "$pid") x1=$(cpu_ns "$xvfb_pid") t1=$(now_ns)
  [[ "$program" == ours ]] && b1=$(stat -c %s "$ours_trace")
  stop_program
  pid=""
  awk -v c="$((c1 - c0))" -v s="$((s1 - s0))" -v x="$((x1 - x0))" -v t="$((t1 - t0))" -v b="$((b1 - b0))" \
    'BEGIN { printf "%.3f %.1f %.3f %d\n", 100 * c / t, s * 1e9 / t, 100 * x / t, b }'
}

: >"$work/ours.txt"
: >"$work/feh.txt"
for ((r = 0; r < runs; r++)); do
  measure ours >>"$work/ours.txt"
  measure feh >>"$work/feh.txt"
done
for program in ours feh; do
  f="$work/$program.txt"
  line="RESULT idle-cpu program=$program seconds=$seconds"
  line+=" cpu_percent=$(cut -d' ' -f1 "$f" | median) runs=[$(cut -d' ' -f1 "$f" | joined)]"
  line+=" wakeups_per_s=$(cut -d' ' -f2 "$f" | median)"
  line+=" xvfb_cpu_percent=$(cut -d' ' -f3 "$f" | median)"
  [[ "$program" == ours ]] && line+=" trace_bytes_per_s=$(($(cut -d' ' -f4 "$f" | median | cut -d. -f1) / seconds))"
  echo "$line"
done

# What ours does while idle.
wait_black_screen
start_ours
"$work/tools/screen-watch" first 60 >/dev/null
sleep 3
echo "--- strace -c -f, 10 s of the idle program"
timeout -s INT 10 strace -c -f -p "$pid" 2>&1 | head -25 || true
if perf stat -e task-clock true >/dev/null 2>&1; then
  echo "--- perf stat, 10 s"
  perf stat -e task-clock,context-switches,cpu-migrations,page-faults -p "$pid" -- sleep 10 2>&1 | grep -v '^$' || true
  echo "--- perf record, 10 s: where the idle CPU goes"
  perf record -q -e cpu-clock -F 999 -o "$work/perf.data" -p "$pid" -- sleep 10 >"$work/perf.log" 2>&1 ||
    cat "$work/perf.log"
  perf report -q -i "$work/perf.data" --sort dso --stdio 2>&1 | grep -v '^$' | head -25 || true
fi
stop_program
pid=""
echo "load average at the end: $(load_average)"
