#pragma once

// The registry functions of Windows, with their names, argument lists,
// types, constants and result codes, over HKEY_LOCAL_MACHINE kept in a
// REGEDIT4 text file: the file named by WINREG_HKLM, or
// /var/lib/winreg/HKEY_LOCAL_MACHINE.reg when it is unset or empty.

#include <cstdint>

typedef std::int32_t LONG;
typedef std::uint32_t DWORD;
typedef unsigned char BYTE;
typedef DWORD REGSAM;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;

struct PosixRegistryKey;  // never defined: a handle is only a number
typedef PosixRegistryKey* HKEY;
typedef HKEY* PHKEY;

struct SECURITY_ATTRIBUTES;  // accepted and never looked into
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

// The predefined root: 0x80000002 as a signed 32-bit value, widened to a
// handle the way Windows does it.
#define HKEY_LOCAL_MACHINE \
  (reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000002u))))

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_BAD_PATHNAME = 161;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_REGISTRY_CORRUPT = 1015;
constexpr LONG ERROR_REGISTRY_IO_FAILED = 1016;
// The key behind an open handle is no longer in the file (edited by hand).
constexpr LONG ERROR_KEY_DELETED = 1018;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;

extern "C" {

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions,
                   REGSAM samDesired, PHKEY phkResult);

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);

LONG RegCloseKey(HKEY hKey);

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                     DWORD dwOptions, REGSAM samDesired,
                     LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                     PHKEY phkResult, LPDWORD lpdwDisposition);

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved,
                    DWORD dwType, const BYTE* lpData, DWORD cbData);

}  // extern "C"
