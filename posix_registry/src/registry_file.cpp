#include "registry_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "registry_text.h"

namespace posix_registry {

namespace {

constexpr char kDefaultPath[] = "/var/lib/winreg/HKEY_LOCAL_MACHINE.reg";
constexpr int kMaxLinkHops = 40;
constexpr std::size_t kWriteChunk = 1 << 16;
constexpr mode_t kNewFileMode = 0644;  // less the umask

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Follows symbolic links, even a dangling one, so that the file they lead
// to is replaced and the links stay.
std::string FollowLinks(const std::string& path, FileSystem& files) {
  std::string current = path;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    std::string target;
    if (files.ReadLink(current, &target) != 0) break;
    current = (!target.empty() && target.front() == '/') ? target : DirectoryOf(current) + "/" + target;
  }
  return current;
}

LONG ErrorCodeFor(int error) {
  return (error == EACCES || error == EPERM || error == EROFS) ? ERROR_ACCESS_DENIED
                                                               : ERROR_REGISTRY_IO_FAILED;
}

// One line for a person to find the fault; the same fault is not repeated
// for every call that runs into it.
void ReportFault(const std::string& line) {
  static std::mutex mutex;
  static std::string last;
  const std::lock_guard<std::mutex> guard(mutex);
  if (line == last) return;
  last = line;
  std::fprintf(stderr, "%s\n", line.c_str());
}

class LockGuard {
 public:
  explicit LockGuard(FileSystem& files) : files_(files) {}
  ~LockGuard() {
    if (fd_ != -1) files_.Unlock(fd_);
  }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;
  int Lock(const std::string& path) { return files_.LockExclusive(path, &fd_); }

 private:
  FileSystem& files_;
  int fd_ = -1;
};

}  // namespace

std::string RegistryFilePath() {
  const char* named = std::getenv("WINREG_HKLM");
  return (named != nullptr && named[0] != '\0') ? named : kDefaultPath;
}

RegistryFile::RegistryFile(std::string path, FileSystem& files)
    : path_(std::move(path)),
      target_(FollowLinks(path_, files)),
      directory_(DirectoryOf(target_)),
      files_(files) {}

LONG RegistryFile::Load(Key* root) const {
  std::string text;
  const int error = files_.ReadFile(target_, &text);
  if (error == ENOENT || error == ENOTDIR) return ERROR_SUCCESS;
  if (error != 0) {
    ReportFault("registry: " + path_ + ": cannot read: " + std::strerror(error));
    return ERROR_ACCESS_DENIED;
  }
  TextFault fault;
  if (!ParseRegistryText(text, root, &fault)) {
    ReportFault("registry: " + path_ + ":" + std::to_string(fault.line) + ": " + fault.what);
    return ERROR_REGISTRY_CORRUPT;
  }
  return ERROR_SUCCESS;
}

LONG RegistryFile::CheckWriteAccess() const {
  FileStatus status;
  int error = files_.Status(target_, &status);
  if (error == 0 && status.exists) error = files_.CheckWritable(target_);
  if (error != 0) return ErrorCodeFor(error);
  // A folder still to be made needs write access to the nearest one there is.
  std::string folder = directory_;
  for (;;) {
    error = files_.CheckWritable(folder);
    if ((error != ENOENT && error != ENOTDIR) || folder == "/" || folder == ".") break;
    folder = DirectoryOf(folder);
  }
  return error == 0 ? ERROR_SUCCESS : ErrorCodeFor(error);
}

LONG RegistryFile::Apply(const Change& change) const {
  LONG result = CheckWriteAccess();
  if (result != ERROR_SUCCESS) return result;
  if (const int error = files_.MakeDirectories(directory_)) return ErrorCodeFor(error);
  LockGuard lock(files_);
  if (const int error = lock.Lock(target_ + ".lock")) return ErrorCodeFor(error);

  Key root;
  result = Load(&root);
  if (result != ERROR_SUCCESS) return result;
  bool changed = false;
  result = change(root, &changed);
  if (result != ERROR_SUCCESS || !changed) return result;
  return Replace(WriteRegistryText(root));
}

LONG RegistryFile::Replace(const std::string& text) const {
  const std::string temporary = target_ + ".tmp";
  FileStatus old;
  if (const int error = files_.Status(target_, &old)) return ErrorCodeFor(error);
  // Only a writer killed half-way leaves this behind, and we hold the lock.
  files_.Remove(temporary);

  int fd = -1;
  int error = files_.CreateExclusive(temporary, old.exists ? old.mode : kNewFileMode, &fd);
  if (error != 0) return ErrorCodeFor(error);
  if (old.exists) error = files_.CopyModeAndOwner(fd, old);
  for (std::size_t written = 0; error == 0 && written < text.size();) {
    const std::size_t chunk = std::min(kWriteChunk, text.size() - written);
    const long count = files_.Write(fd, text.data() + written, chunk);
    if (count < 0) {
      error = static_cast<int>(-count);
    } else if (count == 0) {
      error = EIO;
    } else {
      written += static_cast<std::size_t>(count);
    }
  }
  if (error == 0) error = files_.Sync(fd);
  const int closeError = files_.Close(fd);
  if (error == 0) error = closeError;
  if (error == 0) error = files_.Rename(temporary, target_);
  if (error != 0) {
    files_.Remove(temporary);
    return ErrorCodeFor(error);
  }
  // The change is in place; some file systems cannot flush a folder.
  files_.SyncDirectory(directory_);
  return ERROR_SUCCESS;
}

}  // namespace posix_registry
