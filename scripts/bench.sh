#!/usr/bin/env bash
# Builds the Release benchmarks and runs them all: the micro-benchmarks (bench/*-bench.cpp)
# and the whole-process comparisons with feh under Xvfb (first picture on 100,000 and
# 1,000,000 files, warm and cold; time per picture and peak memory over 24 MP photos; idle
# CPU). Takes some 25 minutes on 2 cores. Cold runs need root (they drop the page cache).
# Every output goes to build-perf/bench-results/; the figures are the lines that start with
# "RESULT" and the tables of the micro-benchmarks. docs/BENCHMARKS.md explains them.
#   scripts/bench.sh            everything
#   scripts/bench.sh micro      the micro-benchmarks only
#   scripts/bench.sh process    the whole-process comparisons only
set -euo pipefail
cd "$(dirname "$0")/.."
what=${1:-all}
# Beyond the build: the viewer we compare with, libjpeg-turbo's command-line tools (cjpeg
# makes the photos, djpeg is the floor), strace and perf.
./scripts/deps.sh bench

build="build-perf"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DGW_BENCHMARKS=ON -DGW_TESTS=ON \
  -DGW_SHELL_TESTS=OFF -DGW_WINE_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target glimmerwall randomizator-bench bitmap-bench filemanager-bench
results="$build/bench-results"
mkdir -p "$results"

{
  echo "tree: $(git rev-parse --short HEAD 2>/dev/null || echo '?')$(git diff --quiet HEAD 2>/dev/null || echo ' + local changes')"
  echo "machine: $(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo), $(uname -r)"
  echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
} | tee "$results/machine.txt"

if [[ "$what" == all || "$what" == micro ]]; then
  for b in randomizator bitmap filemanager; do
    echo "=== $b-bench"
    "$build/bench/$b-bench" 2>&1 | tee "$results/$b-bench.txt"
  done
fi

if [[ "$what" == all || "$what" == process ]]; then
  echo "=== first picture, 100,000 files in 2,000 folders"
  bench/first-picture.sh "$build" 100000 2000 2>&1 | tee "$results/first-picture-100k.txt"
  echo "=== first picture, 1,000,000 files in 20,000 folders"
  bench/first-picture.sh "$build" 1000000 20000 2>&1 | tee "$results/first-picture-1m.txt"
  echo "=== slideshow of 24 MP photos"
  bench/slideshow.sh "$build" 2>&1 | tee "$results/slideshow.txt"
  echo "=== idle CPU"
  bench/idle-cpu.sh "$build" 2>&1 | tee "$results/idle-cpu.txt"
fi

echo "=== figures"
cat "$results"/*.txt | grep '^RESULT' || true
