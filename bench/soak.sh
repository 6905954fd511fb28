#!/usr/bin/env bash
# The long forms of the robustness tests, against build folders that hold soak-test and
# robustness-test (a normal build, and a -DGW_SANITIZE=ON build for the leak check):
#   - soak-test: the Linux program under Xvfb, STEPS steps at "delai 0" over 300 pictures,
#     Delete every 50 steps: resident size, leaks, the trash;
#   - robustness-test: STEPS controller steps over a library that another process changes,
#     and a folder of 100,000 files.
#   bench/soak.sh BUILD_DIR... [-- STEPS]
# Lines starting with "[ figures  ]" are the measurements; the exit status is the tests'.
set -euo pipefail
builds=()
steps=20000
while (($#)); do
  if [[ $1 == -- ]]; then steps=${2:?steps}; break; fi
  builds+=("$(realpath "$1")")
  shift
done
((${#builds[@]})) || { echo "usage: $0 BUILD_DIR... [-- STEPS]" >&2; exit 2; }

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for build in "${builds[@]}"; do
  for program in tests/linux/soak-test tests/robustness-test; do
    echo "== $build/$program ($steps steps)"
    start=$(date +%s)
    GW_SOAK_STEPS=$steps GW_ROBUST_STEPS=$steps GW_ROBUST_FILES=100000 \
      "$build/$program" || status=1
    echo "== $(( $(date +%s) - start )) s"
  done
done
exit $status
