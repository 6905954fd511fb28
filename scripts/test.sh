#!/usr/bin/env bash
# Builds the Windows decoders when they are not cached yet, then everything, and runs the whole
# test suite with every test group asked for (a missing tool stops the configuration), then
# again under ASan and UBSan; then builds the Debian package and the Windows zip and checks
# them, and runs the fuzzers briefly.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh test
./scripts/format.sh --check
# About 7 minutes on 2 cores the first time, nothing once cached.
windows_deps=$(./scripts/windows-deps.sh | tail -n 1)

jobs=$(nproc)
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DGW_TESTS=ON -DGW_SHELL_TESTS=ON -DGW_WAYLAND_TESTS=ON -DGW_WINE_TESTS=ON \
  -DGW_WINDOWS_DEPS="$windows_deps"
# Under the sanitizers the Wine tests would watch only their driver, not the program.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DGW_SANITIZE=ON \
  -DGW_TESTS=ON -DGW_SHELL_TESTS=ON -DGW_WAYLAND_TESTS=ON -DGW_WINE_TESTS=OFF

./scripts/package.sh
./scripts/package-windows.sh

# A short fuzzing run of every harness (30 s each).
./scripts/fuzz.sh 30
