#include "registry/read_registry_value.h"

#include <cstring>

bool ReadRegistryValue(const char* keyPath, const char* valueName, char* buffer,
                       DWORD bufferSize) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  // The platform writes the value's length back; the caller's size stays put.
  DWORD length = bufferSize;
  const LONG result = RegQueryValueExA(key, valueName, nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(buffer), &length);
  RegCloseKey(key);

  if (result == ERROR_FILE_NOT_FOUND) {
    if (bufferSize == 0) return false;
    buffer[0] = '\0';
    return true;
  }
  if (result != ERROR_SUCCESS || length > bufferSize) return false;

  // Values need not carry their own NUL (a REG_SZ stored without one, a
  // DWORD, binary data): end the string within the bytes returned, and refuse
  // a value that fills the whole buffer without one rather than cut it short.
  if (std::memchr(buffer, '\0', length) != nullptr) return true;
  if (length == bufferSize) return false;
  buffer[length] = '\0';
  return true;
}
