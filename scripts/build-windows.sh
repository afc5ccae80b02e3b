#!/usr/bin/env bash
# Cross-builds trenlist.exe (and the tests of its logic) for Windows with
# MinGW-w64, warnings as errors. Usage: scripts/build-windows.sh i686|x86_64 [cmake options]
# Needs g++-mingw-w64-i686-posix or g++-mingw-w64-x86-64-posix.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:?usage: $0 i686|x86_64 [cmake options]}
shift
cmake -S . -B "build-windows-$arch" \
  -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$arch.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTRENLIST_WERROR=ON "$@"
cmake --build "build-windows-$arch" -j "$(nproc 2>/dev/null || echo 2)"
