#pragma once

#include "registry/platform_registry.h"

// Reads one value of a key under HKEY_LOCAL_MACHINE into buffer as a
// NUL-terminated string. A key without that value reads as "". Returns false
// when the key cannot be opened or the value cannot be read; buffer is then
// not meant to be used.
bool ReadRegistryValue(const char* keyPath, const char* valueName, char* buffer,
                       DWORD bufferSize);
