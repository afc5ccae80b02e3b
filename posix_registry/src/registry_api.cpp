// The five registry functions over the registry file.

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "key_path.h"
#include "posix_registry.h"
#include "registry_file.h"
#include "testing_hooks.h"

namespace posix_registry {

namespace {

constexpr REGSAM kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
constexpr REGSAM kFullAccess = ~REGSAM{0};
constexpr std::uintptr_t kFirstHandle = 0x100;
constexpr std::uintptr_t kHandleStep = 4;

struct OpenKey {
  std::vector<std::string> path;
  REGSAM access = 0;
};

// Open handles are numbers that are never reused, so a stale or twice-closed
// handle is always recognised.
struct LayerState {
  std::mutex mutex;
  std::map<std::uintptr_t, OpenKey> openKeys;
  std::uintptr_t nextHandle = kFirstHandle;
  FileSystem* files = nullptr;
  std::unique_ptr<RegistryFile> file;  // kept for its copy of the registry
};

LayerState& State() {
  static LayerState state;
  return state;
}

RegistryFile& CurrentFile(LayerState& state) {
  static PosixFileSystem system;
  FileSystem& files = state.files != nullptr ? *state.files : system;
  const std::string path = RegistryFilePath();
  if (!state.file || state.file->path() != path || &state.file->files() != &files) {
    state.file = std::make_unique<RegistryFile>(path, files);
  }
  return *state.file;
}

bool LookUp(const LayerState& state, HKEY handle, OpenKey* key) {
  if (handle == HKEY_LOCAL_MACHINE) {
    *key = OpenKey{{}, kFullAccess};
    return true;
  }
  const auto found = state.openKeys.find(reinterpret_cast<std::uintptr_t>(handle));
  if (found == state.openKeys.end()) return false;
  *key = found->second;
  return true;
}

// The path of the key that subKey names under handle, for a function that
// hands out a new handle through result.
LONG ResolveSubkey(const LayerState& state, HKEY handle, LPCSTR subKey, PHKEY result,
                   std::vector<std::string>* path) {
  OpenKey base;
  if (!LookUp(state, handle, &base)) return ERROR_INVALID_HANDLE;
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  std::vector<std::string> names;
  switch (SplitKeyPath(subKey != nullptr ? subKey : "", &names)) {
    case PathFault::kNone: break;
    case PathFault::kLeadingBackslash: return ERROR_BAD_PATHNAME;
    default: return ERROR_INVALID_PARAMETER;
  }
  if (base.path.size() + names.size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
  *path = std::move(base.path);
  path->insert(path->end(), names.begin(), names.end());
  return ERROR_SUCCESS;
}

HKEY NewHandle(LayerState& state, std::vector<std::string> path, REGSAM access) {
  const std::uintptr_t number = state.nextHandle;
  state.nextHandle += kHandleStep;
  state.openKeys.emplace(number, OpenKey{std::move(path), access});
  return reinterpret_cast<HKEY>(number);
}

std::string_view ValueName(LPCSTR name) { return name != nullptr ? name : ""; }

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

}  // namespace

void UseFileSystemForTesting(FileSystem* files) {
  LayerState& state = State();
  const std::lock_guard<std::mutex> guard(state.mutex);
  state.files = files;
  state.file.reset();
}

}  // namespace posix_registry

using posix_registry::Key;
using posix_registry::OpenKey;
using posix_registry::RegistryFile;
using posix_registry::State;

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                   PHKEY phkResult) {
  auto& state = State();
  const std::lock_guard<std::mutex> guard(state.mutex);
  std::vector<std::string> path;
  LONG result = posix_registry::ResolveSubkey(state, hKey, lpSubKey, phkResult, &path);
  if (result != ERROR_SUCCESS) return result;

  RegistryFile& file = posix_registry::CurrentFile(state);
  const Key* root = nullptr;
  result = file.Read(&root);
  if (result != ERROR_SUCCESS) return result;
  if (root->Find(path) == nullptr) return ERROR_FILE_NOT_FOUND;
  if ((samDesired & posix_registry::kWriteAccess) != 0) {
    result = file.CheckWriteAccess();
    if (result != ERROR_SUCCESS) return result;
  }
  *phkResult = posix_registry::NewHandle(state, std::move(path), samDesired);
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, LPSTR /*lpClass*/,
                     DWORD /*dwOptions*/, REGSAM samDesired,
                     LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, PHKEY phkResult,
                     LPDWORD lpdwDisposition) {
  auto& state = State();
  const std::lock_guard<std::mutex> guard(state.mutex);
  std::vector<std::string> path;
  LONG result = posix_registry::ResolveSubkey(state, hKey, lpSubKey, phkResult, &path);
  if (result != ERROR_SUCCESS) return result;

  bool created = false;
  result = posix_registry::CurrentFile(state).Apply(
      [&](posix_registry::RegistryDocument& registry, bool* changed) {
        created = registry.CreateKey(path);
        *changed = created;
        return ERROR_SUCCESS;
      });
  if (result != ERROR_SUCCESS) return result;
  if (lpdwDisposition != nullptr) {
    *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  }
  *phkResult = posix_registry::NewHandle(state, std::move(path), samDesired);
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
  auto& state = State();
  const std::lock_guard<std::mutex> guard(state.mutex);
  OpenKey open;
  if (!posix_registry::LookUp(state, hKey, &open)) return ERROR_INVALID_HANDLE;
  if ((open.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  const std::string_view name = posix_registry::ValueName(lpValueName);
  if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr) ||
      posix_registry::HasControlCharacter(name)) {
    return ERROR_INVALID_PARAMETER;
  }

  const Key* root = nullptr;
  const LONG result = posix_registry::CurrentFile(state).Read(&root);
  if (result != ERROR_SUCCESS) return result;
  const Key* key = root->Find(open.path);
  if (key == nullptr) return ERROR_KEY_DELETED;
  const auto found = key->values.find(name);
  if (found == key->values.end()) return ERROR_FILE_NOT_FOUND;

  const posix_registry::Value& value = found->second;
  const auto size = static_cast<DWORD>(value.data.size());
  if (lpType != nullptr) *lpType = value.type;
  if (lpData == nullptr) {
    if (lpcbData != nullptr) *lpcbData = size;
    return ERROR_SUCCESS;
  }
  const DWORD capacity = *lpcbData;
  *lpcbData = size;
  if (size > capacity) return ERROR_MORE_DATA;
  std::memcpy(lpData, value.data.data(), size);
  // As Windows does: a string stored without its NUL gets one when it fits.
  const bool unterminated = size == 0 || value.data.back() != '\0';
  if (posix_registry::IsStringType(value.type) && unterminated && size < capacity) {
    lpData[size] = '\0';
  }
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType,
                    const BYTE* lpData, DWORD cbData) {
  auto& state = State();
  const std::lock_guard<std::mutex> guard(state.mutex);
  OpenKey open;
  if (!posix_registry::LookUp(state, hKey, &open)) return ERROR_INVALID_HANDLE;
  if ((open.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  const std::string_view name = posix_registry::ValueName(lpValueName);
  if ((lpData == nullptr && cbData != 0) || posix_registry::HasControlCharacter(name)) {
    return ERROR_INVALID_PARAMETER;
  }

  posix_registry::Value value;
  value.type = dwType;
  if (cbData != 0) value.data.assign(reinterpret_cast<const char*>(lpData), cbData);
  return posix_registry::CurrentFile(state).Apply(
      [&](posix_registry::RegistryDocument& registry, bool* changed) {
        if (registry.root().Find(open.path) == nullptr) return ERROR_KEY_DELETED;
        *changed = registry.SetValue(open.path, std::string(name), value);
        return ERROR_SUCCESS;
      });
}

LONG RegCloseKey(HKEY hKey) {
  auto& state = State();
  const std::lock_guard<std::mutex> guard(state.mutex);
  if (hKey == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  return state.openKeys.erase(reinterpret_cast<std::uintptr_t>(hKey)) == 1 ? ERROR_SUCCESS
                                                                            : ERROR_INVALID_HANDLE;
}
