#pragma once

#include "registry/platform_registry.h"

// Where the update service, the product and its registrations live under
// HKEY_LOCAL_MACHINE, and the values the tool writes there.

// Every buffer that holds a key path or a value read from the registry.
constexpr DWORD kPathBufferSize = 260;

constexpr char kAppPathsKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
constexpr char kTideRunnerAppPathKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\TRMAIN.EXE";
constexpr char kTideRunnerVersionKey[] = "Software\\Morvanex\\TideRunner\\1.5";
constexpr char kInstalledAppsKey[] = "Software\\Morvanex\\InstalledApps";
constexpr char kTorvoValueName[] = "TORVO";

constexpr char kRegisteredProductsKey[] =
    "Software\\Morvanex\\TideRunner\\1.5\\RegisteredProducts\\";
// An edition's identifier is this template with its digit at kIdentifierDigitIndex.
constexpr char kRegistrationIdTemplate[] = "{5E31B7D0-2C4F-13a9-9B21-0060B7C4E1D5}";
constexpr unsigned kIdentifierDigitIndex = 8;

constexpr char kSequencesKey[] = "Software\\Morvanex\\TideRunner\\Sequences\\";
constexpr char kProductVersionSubkey[] = "\\6.0";
constexpr char kLanguageSubkey[] = "\\English";

constexpr char kDescriptiveNameValue[] = "DescriptiveName";
constexpr char kLanguageValue[] = "Language";
constexpr char kProductValue[] = "Product";
constexpr char kVersionValue[] = "Version";
constexpr char kLanguage[] = "English";
constexpr char kProductVersion[] = "6.0";

constexpr char kUpdateValue[] = "Update";
constexpr DWORD kDefaultUpdate = 19990125;  // 0x0131066D
