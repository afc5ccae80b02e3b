#!/usr/bin/env bash
# Builds the release trenlist.exe (32-bit, see README) and packs it with the
# README into build-windows-i686/trenlist-<version>-Windows-x86.zip.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build-windows.sh i686 -DTRENLIST_TESTS=OFF
(cd build-windows-i686 && cpack -G ZIP)
