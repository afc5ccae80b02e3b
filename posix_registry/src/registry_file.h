#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "file_system.h"
#include "posix_registry.h"
#include "registry_document.h"
#include "registry_tree.h"

namespace posix_registry {

// HKEY_LOCAL_MACHINE kept in one REGEDIT4 file. A change locks
// "<file>.lock", works from the file as it is under the lock, replaces the
// file through "<file>.tmp" and then counts itself in the lock file, so a
// reader, another process or a crash sees the old file or the new one and no
// change is lost. Readers take no lock.
//
// The registry last read or written stays in memory, and is used again while
// the change count and the file's identity (device, inode, size, times) are
// both as they were: the count cannot be fooled by a reused inode or a coarse
// timestamp, the identity catches a file edited by hand.
class RegistryFile {
 public:
  // Changes the registry; sets *changed when the file must be rewritten.
  // Returns ERROR_SUCCESS, or an error having changed nothing.
  using Change = std::function<LONG(RegistryDocument& registry, bool* changed)>;

  RegistryFile(std::string path, FileSystem& files);

  const std::string& path() const { return path_; }
  FileSystem& files() const { return files_; }

  // The registry as the file holds it now. A missing file is an empty
  // registry. An unreadable or malformed one is named on standard error and
  // gives ERROR_ACCESS_DENIED or ERROR_REGISTRY_CORRUPT.
  LONG Read(const Key** root);

  // ERROR_ACCESS_DENIED unless this process may replace the file.
  LONG CheckWriteAccess() const;

  // Applies change to the current registry and makes it durable. On any
  // error the file is exactly as it was.
  LONG Apply(const Change& change);

 private:
  LONG Reload(std::optional<std::uint64_t> counter);
  bool CacheIsCurrent(std::optional<std::uint64_t> counter, const FileStatus& now) const;
  LONG Replace(const std::string& text) const;

  std::string path_;       // as named, for messages
  std::string target_;     // the file itself, past any symbolic links
  std::string directory_;  // where target_ and its side files live
  std::string lockPath_;
  FileSystem& files_;

  std::optional<RegistryDocument> cache_;
  FileStatus cachedVersion_;
  std::optional<std::uint64_t> cachedCounter_;  // unknown: never trusted
};

// Where the registry is kept: WINREG_HKLM, or the system-wide default.
std::string RegistryFilePath();

}  // namespace posix_registry
