#!/usr/bin/env bash
# Builds the program alone and runs the show on the sample pictures the project ships.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target glimmerwall
exec ./build/glimmerwall "$@"
