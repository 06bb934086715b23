#!/usr/bin/env bash
# Builds the program and starts it from the build folder, beside its manual.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup-debian.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
cd build && exec ./velloran "$@"
