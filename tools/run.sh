#!/usr/bin/env bash
# Builds the window (and its manual) and starts it from the build folder,
# beside its manual. Tests and benchmarks are not built here: tools/test.sh
# builds and runs the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup-debian.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)" --target velloran
cd build && exec ./velloran "$@"
