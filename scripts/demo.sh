#!/usr/bin/env bash
# Builds trenlist and runs it twice on a throwaway copy of an example
# registry: a full registration, then "already TideRunner enabled". Then shows
# the registry file it leaves.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-demo -DTRENLIST_TESTS=OFF >/dev/null
cmake --build build-demo --target trenlist -j "$(nproc 2>/dev/null || echo 2)" >/dev/null

demo=$(mktemp -d)
trap 'rm -rf "$demo"' EXIT
cp examples/standard-edition.reg "$demo/HKEY_LOCAL_MACHINE.reg"
export WINREG_HKLM="$demo/HKEY_LOCAL_MACHINE.reg"

for run in first second; do
  echo "\$ trenlist    # $run run"
  status=0
  build-demo/trenlist || status=$?
  echo "(exit status $status)"
  echo
done
echo "\$ cat \$WINREG_HKLM"
cat "$WINREG_HKLM"
