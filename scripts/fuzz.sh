#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ with clang into build-fuzz and runs each of them:
#   scripts/fuzz.sh [SECONDS] [HARNESS...]   each harness for SECONDS (default 30)
#   scripts/fuzz.sh --long [HARNESS...]      each harness for 10 million executions
# HARNESS is a name such as configurator or path (default: all). Fails on any crash, leak,
# sanitizer report or hang; the input that did it is kept in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=30
long=0
if [[ ${1:-} == --long ]]; then
  long=1; shift
elif [[ ${1:-} =~ ^[0-9]+$ ]]; then
  seconds=$1; shift
fi

./scripts/deps.sh test
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
     clang++ -x c++ -fsanitize=fuzzer,address,undefined -o /dev/null - 2>/dev/null; then
  echo "clang++ cannot link libFuzzer: install the Debian packages clang and libclang-rt-14-dev" >&2
  exit 1
fi

build=build-fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DGW_FUZZ=ON -DGW_TESTS=OFF -DGW_SHELL=OFF -DGW_BENCHMARKS=OFF
cmake --build "$build" -j "$(nproc)"

if [[ $# -eq 0 ]]; then
  set -- $(cd fuzz && ls ./*-fuzz.cpp | sed 's|^\./||; s|-fuzz\.cpp$||')
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$build/artifacts" "$build/logs"

summary=()
failed=0
for name in "$@"; do
  program=$build/fuzz/$name-fuzz
  [[ -x $program ]] || { echo "no harness $name (fuzz/$name-fuzz.cpp)" >&2; exit 1; }
  # New inputs go to the first folder, so the seeds under fuzz/corpus stay as written.
  work=$build/corpus/$name
  mkdir -p "$work"
  if [[ $long -eq 1 ]]; then limit=(-runs=10000000); else limit=(-max_total_time="$seconds"); fi
  log=$build/logs/$name.log
  echo "== $name-fuzz: ${limit[*]} (log: $log)"
  start=$(date +%s)
  set +e
  "$program" "$work" "fuzz/corpus/$name" "${limit[@]}" -timeout=25 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$name-" >"$log" 2>&1
  rc=$?
  set -e
  elapsed=$(( $(date +%s) - start ))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  # A crash ends the run before the final statistics: take the last progress line.
  [[ -n $runs ]] || runs=$(grep -o '^#[0-9]*' "$log" | tail -n 1 | tr -d '#')
  if [[ $rc -eq 0 ]]; then
    result=passed
  elif [[ $rc -eq 72 ]]; then # libFuzzer's code for a run stopped by Ctrl-C or SIGINT
    result="INTERRUPTED, no crash so far"
    failed=1
  else
    result="FAILED (exit $rc)"
    failed=1
    tail -n 40 "$log"
    artifact=$(sed -n 's/.*Test unit written to //p' "$log" | tail -n 1)
    [[ -z $artifact ]] || result="$result, input: $artifact"
  fi
  summary+=("$name-fuzz: ${runs:-0} executions in ${elapsed} s, $result")
done

printf '%s\n' "${summary[@]}"
exit "$failed"
