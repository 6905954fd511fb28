# shellcheck shell=bash disable=SC2154  # `work` is set by the script that sources this file
# Shared by the whole-process benchmarks (sourced, not run): a private X server, the two
# helper programs, how each viewer is started, and medians. Every script that sources it sets
# `work` (a temporary folder of its own, removed on exit) first.

bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
xvfb_pid=""

# An X server of WIDTHxHEIGHT (1920x1080 when not given) on the first free display from :90,
# black root window; sets DISPLAY.
#   start_xvfb [WIDTHxHEIGHT]
start_xvfb() {
  local size=${1:-1920x1080}
  local n=90
  while [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 "${size}x24" -br -nolisten tcp -noreset >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$n"
  local i
  for ((i = 0; i < 100; i++)); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  echo "Xvfb did not start" >&2
  return 1
}

stop_xvfb() {
  if [[ -n "$xvfb_pid" ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  fi
}

# Compiles bench/screen-watch.cpp and bench/make-photo.cpp into $work/tools.
build_tools() {
  mkdir -p "$work/tools"
  g++ -std=c++17 -O2 -Wall -Wextra -Wpedantic -Wshadow -Werror \
    "$bench_dir/screen-watch.cpp" -o "$work/tools/screen-watch" -lX11
  g++ -std=c++17 -O2 -Wall -Wextra -Wpedantic -Wshadow -Werror \
    "$bench_dir/make-photo.cpp" -o "$work/tools/make-photo"
}

# make_photo WIDTH HEIGHT SEED FILE: one synthetic photo as a quality-90 JPEG.
make_photo() {
  "$work/tools/make-photo" "$1" "$2" "$3" | cjpeg -quality 90 -optimize >"$4"
}

# Waits until nothing but black crosses the middle of the screen (the last window is gone).
wait_black_screen() {
  local i
  for ((i = 0; i < 200; i++)); do
    "$work/tools/screen-watch" first 0.01 >/dev/null || return 0
    sleep 0.02
  done
  echo "the screen stays lit" >&2
  return 1
}

now_ns() { date +%s%N; }

# The median of the numbers on standard input, one a line.
median() {
  sort -g | awk '{v[NR] = $1} END {
    if (NR == 0) { print "n/a"; exit }
    if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# All the figures of a list, for the record: "a b c".
joined() { tr '\n' ' ' | sed 's/ $//'; }

# Our program, installed in $work/ours with its own configuration, trace and home: the
# program reads Glimmerwall.cfg beside itself first.
install_ours() {
  local build=$1
  mkdir -p "$work/ours/bin" "$work/ours/home" "$work/ours/state"
  cp "$build/glimmerwall" "$work/ours/bin/"
  ours_trace="$work/ours/state/glimmerwall/Glimmerwall.txt"
}

# configure_ours LINES...: the configuration file, one argument a line.
configure_ours() {
  printf '%s\n' "$@" >"$work/ours/bin/Glimmerwall.cfg"
}

# Starts our program in the background; sets `pid`.
start_ours() {
  rm -f "$ours_trace"
  HOME="$work/ours/home" XDG_STATE_HOME="$work/ours/state" XDG_CONFIG_HOME="$work/ours/home/.config" \
    "$work/ours/bin/glimmerwall" >/dev/null 2>&1 &
  pid=$!
}

# start_feh ARGS...: feh in the background with its own empty home; sets `pid`.
start_feh() {
  mkdir -p "$work/feh-home"
  HOME="$work/feh-home" feh "$@" >/dev/null 2>&1 &
  pid=$!
}

# Ends the program that `pid` names, in order (SIGTERM), and waits for it.
stop_program() {
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# Milliseconds since local midnight of a trace line's time stamp ("DD,HH:MM:SS.mmm [...").
trace_ms() {
  awk '{ split($1, a, ","); split(a[2], t, ":"); printf "%.0f\n", (t[1] * 3600 + t[2] * 60 + t[3]) * 1000 }'
}

# Milliseconds since local midnight of a wall-clock time in nanoseconds since 1970.
local_day_ms() {
  local ns=$1
  local midnight
  midnight=$(date -d "@$((ns / 1000000000))" +%Y-%m-%d)
  midnight=$(date -d "$midnight 00:00:00" +%s)
  echo $(((ns / 1000000) - midnight * 1000))
}

# Peak resident size (VmHWM) of a running process, in MiB.
peak_rss_mib() {
  awk '/^VmHWM:/ { printf "%.1f\n", $2 / 1024 }' "/proc/$1/status"
}

# CPU time of every thread of a process so far, in nanoseconds.
cpu_ns() {
  cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%.0f\n", s }'
}

can_drop_caches() { [[ -w /proc/sys/vm/drop_caches ]] && (sync && echo 3 >/proc/sys/vm/drop_caches) 2>/dev/null; }
drop_caches() { sync && echo 3 >/proc/sys/vm/drop_caches; }

load_average() { cut -d' ' -f1-3 /proc/loadavg; }

# The run's scratch folder in $work; on exit the program in $pid, the X server and the folder go.
begin_scratch() {
  work=$(mktemp -d "/tmp/gw-$1.XXXXXX")
  pid=""
  trap end_scratch EXIT
}
end_scratch() {
  [[ -z "$pid" ]] || kill "$pid" 2>/dev/null || true
  stop_xvfb
  rm -rf "$work"
}
