#!/usr/bin/env bash
# Builds the three programs into build/ (the window velloran and its manual,
# the command line velloran-cli, and velloran-worker, which draws the pages
# of both) and starts the window from there, beside its manual. Tests and
# benchmarks are not built here: tools/test.sh builds and runs the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup-debian.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)" --target velloran velloran-cli velloran-worker
cd build && exec ./velloran "$@"
