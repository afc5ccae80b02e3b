#!/usr/bin/env bash
# Fuzzes the registry file reader for a while (default 60 seconds) with
# libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer, starting
# from the example registries and those the tests expect. Needs clang and
# libclang-rt-14-dev.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
CXX=${CXX:-clang++} cmake -S . -B build-fuzz -DTRENLIST_FUZZ=ON -DTRENLIST_SANITIZE=ON \
  -DTRENLIST_TESTS=OFF -DTRENLIST_WERROR=ON >/dev/null
cmake --build build-fuzz --target registry_text_fuzzer -j "$(nproc 2>/dev/null || echo 2)"

corpus=build-fuzz/corpus
mkdir -p "$corpus"
cp examples/*.reg tests/end_to_end/expected/*.reg "$corpus/"
build-fuzz/tests/fuzz/registry_text_fuzzer -max_total_time="$seconds" -timeout=10 \
  -dict=tests/fuzz/registry.dict -artifact_prefix=build-fuzz/ "$corpus"
