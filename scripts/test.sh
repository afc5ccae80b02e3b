#!/usr/bin/env bash
# Builds trenlist and runs every test: once with warnings as errors, once more
# under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build -DTRENLIST_TESTS=ON -DTRENLIST_WERROR=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-sanitize -DTRENLIST_TESTS=ON -DTRENLIST_WERROR=ON -DTRENLIST_SANITIZE=ON
cmake --build build-sanitize -j "$jobs"
ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
