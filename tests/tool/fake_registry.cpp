#include "fake_registry.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

// The calling convention the platform declares its registry functions with
// (stdcall on 32-bit Windows); there is none to match elsewhere.
#ifndef WINAPI
#define WINAPI
#endif

namespace {

std::string Quote(const char* text) {
  return text == nullptr ? "null" : "\"" + std::string(text) + "\"";
}

// Bytes as a C string literal would show them, so NULs and DWORDs are visible.
std::string QuoteBytes(const BYTE* data, DWORD length) {
  if (data == nullptr) return "null";
  std::string out = "\"";
  for (DWORD i = 0; i < length; ++i) {
    const BYTE byte = data[i];
    if (byte == 0) {
      out += "\\0";
    } else if (byte < 0x20 || byte >= 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out + "\"";
}

std::string AccessName(REGSAM access) {
  if (access == KEY_READ) return "KEY_READ";
  if (access == KEY_WRITE) return "KEY_WRITE";
  return std::to_string(access);
}

std::string TypeName(DWORD type) {
  if (type == REG_SZ) return "REG_SZ";
  if (type == REG_DWORD) return "REG_DWORD";
  return std::to_string(type);
}

std::string Text(const char* text) { return text == nullptr ? "" : text; }

std::string Pointer(const void* pointer) { return pointer == nullptr ? "null" : "ptr"; }

}  // namespace

FakeRegistry& FakeRegistry::Instance() {
  static FakeRegistry registry;
  return registry;
}

void FakeRegistry::Reset() { *this = FakeRegistry(); }

void FakeRegistry::AddKey(const std::string& path) { keys_[path]; }

void FakeRegistry::AddString(const std::string& path, const std::string& name,
                             const std::string& text) {
  AddValue(path, name, REG_SZ, text + '\0');
}

void FakeRegistry::AddValue(const std::string& path, const std::string& name, DWORD type,
                            const std::string& bytes) {
  keys_[path][name] = StoredValue{type, bytes};
}

void FakeRegistry::Fail(const std::string& function, const std::string& argument,
                        LONG code) {
  failures_[function + "|" + argument] = code;
}

bool FakeRegistry::HasKey(const std::string& path) const { return keys_.count(path) == 1; }

std::optional<std::string> FakeRegistry::ValueOf(const std::string& path,
                                                 const std::string& name) const {
  const auto key = keys_.find(path);
  if (key == keys_.end()) return std::nullopt;
  const auto value = key->second.find(name);
  if (value == key->second.end()) return std::nullopt;
  return value->second.bytes;
}

std::vector<std::string> FakeRegistry::CallsTo(const std::string& function) const {
  std::vector<std::string> matching;
  for (const std::string& call : calls_) {
    if (call.compare(0, function.size() + 1, function + "(") == 0) matching.push_back(call);
  }
  return matching;
}

std::optional<LONG> FakeRegistry::InjectedFailure(const std::string& function,
                                                  const std::string& argument) const {
  const auto found = failures_.find(function + "|" + argument);
  if (found == failures_.end()) return std::nullopt;
  return found->second;
}

HKEY FakeRegistry::NewHandle(const std::string& path) {
  const int number = nextHandle_++;
  const HKEY handle = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x1000 + 16 * number));
  open_[handle] = path;
  handleNumbers_[handle] = number;
  return handle;
}

std::string FakeRegistry::HandleName(HKEY key) const {
  if (key == HKEY_LOCAL_MACHINE) return "HKLM";
  const auto found = handleNumbers_.find(key);
  return found == handleNumbers_.end() ? "bad-handle" : "h" + std::to_string(found->second);
}

void FakeRegistry::Record(const std::string& call, LONG result) {
  calls_.push_back(call + " = " + std::to_string(result));
}

LONG FakeRegistry::Open(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY result) {
  const std::string call = "RegOpenKeyExA(" + HandleName(root) + ", " + Quote(path) + ", " +
                           std::to_string(options) + ", " + AccessName(access) + ")";
  LONG code = ERROR_FILE_NOT_FOUND;
  if (const auto failure = InjectedFailure("RegOpenKeyExA", Text(path))) {
    code = *failure;
  } else if (root == HKEY_LOCAL_MACHINE && HasKey(Text(path))) {
    *result = NewHandle(Text(path));
    Record(call, ERROR_SUCCESS);
    calls_.back() += " " + HandleName(*result);
    return ERROR_SUCCESS;
  }
  Record(call, code);
  return code;
}

LONG FakeRegistry::Query(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD length) {
  const std::string call =
      "RegQueryValueExA(" + HandleName(key) + ", " + Quote(name) + ", " + Pointer(reserved) +
      ", " + Pointer(type) + ", " + Pointer(data) + ", " +
      (length == nullptr ? "null" : std::to_string(*length)) + ")";
  LONG code = ERROR_FILE_NOT_FOUND;
  const auto handle = open_.find(key);
  if (handle == open_.end()) {
    code = ERROR_INVALID_HANDLE;
  } else if (const auto failure = InjectedFailure("RegQueryValueExA", Text(name))) {
    code = *failure;
  } else if (const auto found = keys_[handle->second].find(Text(name));
             found != keys_[handle->second].end()) {
    // Only the stored bytes are written, never a NUL of the fake's own, so
    // the caller must end the string itself.
    const std::string& bytes = found->second.bytes;
    const DWORD capacity = *length;
    *length = static_cast<DWORD>(bytes.size());
    if (bytes.size() > capacity) {
      code = ERROR_MORE_DATA;
    } else {
      std::memcpy(data, bytes.data(), bytes.size());
      code = ERROR_SUCCESS;
    }
  }
  Record(call, code);
  return code;
}

LONG FakeRegistry::Close(HKEY key) {
  const std::string call = "RegCloseKey(" + HandleName(key) + ")";
  if (open_.erase(key) == 0) {
    ++badCloses_;
    Record(call, ERROR_INVALID_HANDLE);
    return ERROR_INVALID_HANDLE;
  }
  Record(call, ERROR_SUCCESS);
  return ERROR_SUCCESS;
}

LONG FakeRegistry::Create(HKEY root, LPCSTR path, DWORD reserved, LPSTR keyClass,
                          DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                          PHKEY result, LPDWORD disposition) {
  const std::string call =
      "RegCreateKeyExA(" + HandleName(root) + ", " + Quote(path) + ", " +
      std::to_string(reserved) + ", " + Pointer(keyClass) + ", " +
      (options == REG_OPTION_NON_VOLATILE ? "REG_OPTION_NON_VOLATILE" : std::to_string(options)) +
      ", " + AccessName(access) + ", " + Pointer(security) + ", " + Pointer(result) + ", " +
      Pointer(disposition) + ")";
  if (const auto failure = InjectedFailure("RegCreateKeyExA", Text(path))) {
    Record(call, *failure);
    return *failure;
  }
  const bool existed = HasKey(Text(path));
  keys_[Text(path)];
  *result = NewHandle(Text(path));
  if (disposition != nullptr) {
    *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
  }
  Record(call, ERROR_SUCCESS);
  calls_.back() += " " + HandleName(*result);
  return ERROR_SUCCESS;
}

LONG FakeRegistry::Set(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD length) {
  const std::string call = "RegSetValueExA(" + HandleName(key) + ", " + Quote(name) + ", " +
                           std::to_string(reserved) + ", " + TypeName(type) + ", " +
                           QuoteBytes(data, length) + ", " + std::to_string(length) + ")";
  LONG code = ERROR_SUCCESS;
  const auto handle = open_.find(key);
  if (handle == open_.end()) {
    code = ERROR_INVALID_HANDLE;
  } else if (const auto failure = InjectedFailure("RegSetValueExA", Text(name))) {
    code = *failure;
  } else {
    keys_[handle->second][Text(name)] =
        StoredValue{type, std::string(reinterpret_cast<const char*>(data), length)};
  }
  Record(call, code);
  return code;
}

// The functions the tool calls, with the platform's names and signatures.

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   PHKEY phkResult) {
  return FakeRegistry::Instance().Open(hKey, lpSubKey, ulOptions, samDesired, phkResult);
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
  return FakeRegistry::Instance().Query(hKey, lpValueName, lpReserved, lpType, lpData,
                                        lpcbData);
}

LONG WINAPI RegCloseKey(HKEY hKey) { return FakeRegistry::Instance().Close(hKey); }

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                     DWORD dwOptions, REGSAM samDesired,
                     LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                     LPDWORD lpdwDisposition) {
  return FakeRegistry::Instance().Create(hKey, lpSubKey, Reserved, lpClass, dwOptions,
                                         samDesired, lpSecurityAttributes, phkResult,
                                         lpdwDisposition);
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                    const BYTE* lpData, DWORD cbData) {
  return FakeRegistry::Instance().Set(hKey, lpValueName, Reserved, dwType, lpData, cbData);
}
