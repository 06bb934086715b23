#!/usr/bin/env bash
# Builds the suite with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test.
# The benchmarks are left out: the tests do not need them (bench/ builds them).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup-debian.sh
cmake -S . -B build-test -DVELLORAN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DVELLORAN_BUILD_BENCH=OFF
cmake --build build-test -j"$(nproc)"
ctest --test-dir build-test --output-on-failure -j"$(nproc)"
