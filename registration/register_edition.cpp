#include "registration/register_edition.h"

#include <cstdio>
#include <cstring>

#include "registration/registry_layout.h"
#include "registry/read_registry_value.h"

namespace {

void Print(const char* text) { std::fputs(text, stdout); }

// Paths are built from the tool's own constants and never come near the
// buffer's size; snprintf only guarantees that they cannot overrun it.
void ComposePath(char* path, const char* prefix, const char* tail) {
  std::snprintf(path, kPathBufferSize, "%s%s", prefix, tail);
}

void AppendToPath(char* path, const char* tail) {
  const std::size_t used = std::strlen(path);
  std::snprintf(path + used, kPathBufferSize - used, "%s", tail);
}

// Announces the key, then creates it or opens it when it already exists.
bool CreateKey(const char* path, HKEY* key) {
  Print("creating tiderunner key ");
  Print(path);
  Print("\n");
  DWORD disposition;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, key,
                      &disposition) == ERROR_SUCCESS) {
    return true;
  }
  Print("Unable to create key\n");
  return false;
}

bool SetStringValue(HKEY key, const char* name, const char* text) {
  // The length counts the NUL so that it is stored with the string.
  return RegSetValueExA(key, name, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(std::strlen(text) + 1)) ==
         ERROR_SUCCESS;
}

}  // namespace

bool WriteProductValues(const char* displayName, HKEY key) {
  return SetStringValue(key, kDescriptiveNameValue, displayName) &&
         SetStringValue(key, kLanguageValue, kLanguage) &&
         SetStringValue(key, kProductValue, displayName) &&
         SetStringValue(key, kVersionValue, kProductVersion);
}

bool RegisterEdition(const char* displayName, const char* executableFileName,
                     char identifierDigit) {
  char path[kPathBufferSize];
  char value[kPathBufferSize];

  ComposePath(path, kAppPathsKey, executableFileName);
  if (!ReadRegistryValue(path, "", value, sizeof value)) {
    Print(displayName);
    Print(" is not installed\n");
    return false;
  }
  Print(displayName);
  Print(" is installed at ");
  Print(value);
  Print("\n");

  ComposePath(path, kRegisteredProductsKey, kRegistrationIdTemplate);
  path[sizeof kRegisteredProductsKey - 1 + kIdentifierDigitIndex] =
      identifierDigit;
  if (ReadRegistryValue(path, "", value, sizeof value)) {
    Print(displayName);
    Print(" is already TideRunner enabled\n");
    return true;
  }

  HKEY key;
  if (!CreateKey(path, &key)) return true;
  if (!WriteProductValues(displayName, key)) Print("Unable to set values\n");
  RegCloseKey(key);

  ComposePath(path, kSequencesKey, displayName);
  if (!CreateKey(path, &key)) return true;
  RegCloseKey(key);

  AppendToPath(path, kProductVersionSubkey);
  if (!CreateKey(path, &key)) return true;
  RegCloseKey(key);

  AppendToPath(path, kLanguageSubkey);
  if (!CreateKey(path, &key)) return true;
  // A REG_DWORD is stored little-endian whatever the host's byte order.
  const BYTE update[4] = {
      static_cast<BYTE>(kDefaultUpdate), static_cast<BYTE>(kDefaultUpdate >> 8),
      static_cast<BYTE>(kDefaultUpdate >> 16),
      static_cast<BYTE>(kDefaultUpdate >> 24)};
  if (RegSetValueExA(key, kUpdateValue, 0, REG_DWORD, update, sizeof update) !=
      ERROR_SUCCESS) {
    Print("Unable to set default update value for key\n");
  }
  RegCloseKey(key);
  return true;
}
