#!/usr/bin/env bash
# Builds everything and runs the whole test suite with every test group asked for (a missing
# tool stops the configuration), then again under ASan and UBSan; then builds the Debian
# package and checks it, and runs the fuzzers briefly.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh test
./scripts/format.sh --check

jobs=$(nproc)
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DGW_TESTS=ON -DGW_SHELL_TESTS=ON -DGW_WINE_TESTS=ON
# Under the sanitizers the Wine tests would watch only their driver, not the program.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DGW_SANITIZE=ON \
  -DGW_TESTS=ON -DGW_SHELL_TESTS=ON -DGW_WINE_TESTS=OFF

./scripts/package.sh

# A short fuzzing run of every harness (30 s each).
./scripts/fuzz.sh 30
