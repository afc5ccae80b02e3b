#!/usr/bin/env bash
# Measures trenlist and the registry layer on registries of 1 thousand, 100
# thousand and 1 million values (see README, "How it scales"). Takes a few
# minutes and some 2 GB of temporary files.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTRENLIST_TESTS=OFF >/dev/null
cmake --build build-bench --target registry_benchmark -j "$(nproc 2>/dev/null || echo 2)"
build-bench/bench/registry_benchmark --benchmark_counters_tabular=true "$@"
