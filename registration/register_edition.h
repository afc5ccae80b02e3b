#pragma once

#include "registry/platform_registry.h"

// Enrols one edition with the update service and reports each step on
// standard output. Returns false only when the edition is not installed;
// failures after that are reported and still return true.
bool RegisterEdition(const char* displayName, const char* executableFileName,
                     char identifierDigit);

// Writes the registration key's four string values into key, in order, and
// stops at the first that fails. Returns true when all four were written.
bool WriteProductValues(const char* displayName, HKEY key);
