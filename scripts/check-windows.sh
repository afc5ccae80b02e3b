#!/usr/bin/env bash
# Cross-builds both Windows targets with their tests and checks what a user
# would get: only system DLLs imported, the registry functions taken from
# advapi32 (and, in the tests, from the recording fake instead), the version
# resource and the manifest embedded. Then builds the release archive.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n 's/^  VERSION \([0-9.]*\)$/\1/p' CMakeLists.txt)
description=$(sed -n 's/^  DESCRIPTION "\(.*\)"$/\1/p' CMakeLists.txt)
system_dlls='^(advapi32|kernel32|msvcrt|ntdll|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$'
registry_functions='RegOpenKeyExA|RegQueryValueExA|RegCloseKey|RegCreateKeyExA|RegSetValueExA'

fail() { echo "check-windows: $*" >&2; exit 1; }

for arch in i686 x86_64; do
  scripts/build-windows.sh "$arch"
  dir=build-windows-$arch
  objdump=$arch-w64-mingw32-objdump
  exe=$dir/trenlist.exe
  headers=$("$objdump" -p "$exe")

  dlls=$(sed -n 's/^\tDLL Name: //p' <<<"$headers")
  while read -r dll; do
    tr 'A-Z' 'a-z' <<<"$dll" | grep -Eq "$system_dlls" || fail "$exe imports $dll"
  done <<<"$dlls"
  imported=$(awk '/DLL Name: ADVAPI32.dll/{on=1; next} /DLL Name:/{on=0} on' <<<"$headers" |
             grep -Ewo "$registry_functions" | sort -u | wc -l)
  [ "$imported" -eq 5 ] || fail "$exe imports $imported of the five registry functions from advapi32"
  if "$objdump" -p "$dir/tests/tool_tests.exe" | grep -Ewq "$registry_functions"; then
    fail "tool_tests.exe imports registry functions: the fake is not the one called"
  fi

  # Resource types 0x10 (version) and 0x18 (manifest), each with ID 1.
  grep -Eq "^0..  +Entry: ID: 0x000010," <<<"$headers" || fail "$exe has no version resource"
  grep -Eq "^0..  +Entry: ID: 0x000018," <<<"$headers" || fail "$exe has no manifest resource"
  wide=$(strings -el "$exe")
  for text in "$version" "$description" trenlist.exe; do
    grep -Fxq "$text" <<<"$wide" || fail "$exe: version resource lacks \"$text\""
  done
  narrow=$(strings "$exe")
  grep -q 'requestedExecutionLevel level="asInvoker"' <<<"$narrow" || fail "$exe: manifest is not asInvoker"
  if grep -qi activeCodePage <<<"$narrow"; then fail "$exe: manifest sets a code page"; fi
  echo "check-windows: $exe imports only $(tr '\n' ' ' <<<"$dlls")and carries its version and manifest"
done

# The release archive, from the release build just checked.
(cd build-windows-i686 && cpack -G ZIP)
cmake -E tar tf "build-windows-i686/trenlist-$version-Windows-x86.zip"
