#pragma once

#include <functional>
#include <string>

#include "file_system.h"
#include "posix_registry.h"
#include "registry_tree.h"

namespace posix_registry {

// HKEY_LOCAL_MACHINE kept in one REGEDIT4 file. Readers read the file whole;
// a change locks "<file>.lock", works from the file as it is under the lock,
// and replaces the file through "<file>.tmp", so a reader, another process
// or a crash sees the old file or the new one and no change is lost.
class RegistryFile {
 public:
  // Returns ERROR_SUCCESS and sets *changed when the registry must be written.
  using Change = std::function<LONG(Key& root, bool* changed)>;

  RegistryFile(std::string path, FileSystem& files);

  // A missing file is an empty registry. An unreadable or malformed one is
  // named on standard error and gives ERROR_ACCESS_DENIED or
  // ERROR_REGISTRY_CORRUPT.
  LONG Load(Key* root) const;

  // ERROR_ACCESS_DENIED unless this process may replace the file.
  LONG CheckWriteAccess() const;

  // Applies change to the current registry and makes it durable. On any
  // error the file is exactly as it was.
  LONG Apply(const Change& change) const;

 private:
  LONG Replace(const std::string& text) const;

  std::string path_;       // as named, for messages
  std::string target_;     // the file itself, past any symbolic links
  std::string directory_;  // where target_ and its side files live
  FileSystem& files_;
};

// Where the registry is kept: WINREG_HKLM, or the system-wide default.
std::string RegistryFilePath();

}  // namespace posix_registry
