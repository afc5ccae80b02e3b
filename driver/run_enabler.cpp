#include "driver/run_enabler.h"

#include <cstdio>

#include "registration/editions.h"
#include "registration/register_edition.h"
#include "registration/registry_layout.h"
#include "registry/read_registry_value.h"
#include "trenlist_version.h"

namespace {

void Print(const char* text) { std::fputs(text, stdout); }

char ToLowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// "-ver" or "/ver" in any letter case, and nothing more.
bool IsVersionSwitch(const char* argument) {
  if (argument[0] != '-' && argument[0] != '/') return false;
  const char* rest = argument + 1;
  const char* expected = "ver";
  for (; *expected != '\0'; ++rest, ++expected) {
    if (ToLowerAscii(*rest) != *expected) return false;
  }
  return *rest == '\0';
}

}  // namespace

int RunEnabler(int argc, char* argv[]) {
  Print(TRENLIST_DESCRIPTION " - version " TRENLIST_VERSION "\n");

  for (int i = 1; i < argc; ++i) {
    if (IsVersionSwitch(argv[i])) return 0;
  }

  char tideRunnerPath[kPathBufferSize];
  char versionKeyValue[kPathBufferSize];
  char torvoFolder[kPathBufferSize];

  if (!ReadRegistryValue(kTideRunnerAppPathKey, "", tideRunnerPath,
                         sizeof tideRunnerPath)) {
    Print("Tiderunner is not installed. Please run trinstall.exe and then run "
          "trenlist again.\n");
    return 1;
  }
  Print("Tiderunner installed at ");
  Print(tideRunnerPath);
  Print("\n");

  // Only the key's presence matters; its value is never shown.
  if (!ReadRegistryValue(kTideRunnerVersionKey, "", versionKeyValue,
                         sizeof versionKeyValue)) {
    Print("This does not appear to be version 1.5. Please run trinstall.exe "
          "and then run trenlist again.\n");
    return 1;
  }

  if (!ReadRegistryValue(kInstalledAppsKey, kTorvoValueName, torvoFolder,
                         sizeof torvoFolder) ||
      torvoFolder[0] == '\0') {
    Print("Torvo 6.0 is not installed\n");
    return 1;
  }
  Print("Torvo installed at ");
  Print(torvoFolder);
  Print("\n");

  const Edition& first = kEditions[0];
  if (!RegisterEdition(first.displayName, first.executableFileName,
                       first.identifierDigit)) {
    const Edition& second = kEditions[1];
    RegisterEdition(second.displayName, second.executableFileName,
                    second.identifierDigit);
  }
  return 0;
}
