#include "registry_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

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
  int fd() const { return fd_; }

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
      lockPath_(target_ + ".lock"),
      files_(files) {}

bool RegistryFile::CacheIsCurrent(std::optional<std::uint64_t> counter,
                                  const FileStatus& now) const {
  return cache_.has_value() && counter.has_value() && counter == cachedCounter_ &&
         now.SameVersion(cachedVersion_);
}

LONG RegistryFile::Reload(std::optional<std::uint64_t> counter) {
  cache_.reset();
  std::string text;
  FileStatus version;
  const int error = files_.ReadFile(target_, &text, &version);
  if (error != 0 && error != ENOENT && error != ENOTDIR) {
    ReportFault("registry: " + path_ + ": cannot read: " + std::strerror(error));
    return ERROR_ACCESS_DENIED;
  }
  RegistryDocument document;
  TextFault fault;
  if (error == 0 && !RegistryDocument::Read(text, &document, &fault)) {
    ReportFault("registry: " + path_ + ":" + std::to_string(fault.line) + ": " + fault.what);
    return ERROR_REGISTRY_CORRUPT;
  }
  cache_ = std::move(document);
  cachedVersion_ = version;
  cachedCounter_ = counter;
  return ERROR_SUCCESS;
}

LONG RegistryFile::Read(const Key** root) {
  // The count first: a change bumps it only once its file is in place, so
  // the file read after it is never older than the count says.
  std::uint64_t counter = 0;
  std::optional<std::uint64_t> known;
  if (files_.ReadCounter(lockPath_, &counter) == 0) known = counter;
  FileStatus now;
  if (files_.Status(target_, &now) != 0 || !CacheIsCurrent(known, now)) {
    const LONG result = Reload(known);
    if (result != ERROR_SUCCESS) return result;
  }
  *root = &cache_->root();
  return ERROR_SUCCESS;
}

LONG RegistryFile::CheckWriteAccess() const {
  FileStatus status;
  int error = files_.Status(target_, &status);
  if (error == 0 && status.exists) error = files_.CheckWritable(target_);
  if (error == 0) {
    FileStatus lock;
    error = files_.Status(lockPath_, &lock);
    if (error == 0 && lock.exists) error = files_.CheckWritable(lockPath_);
  }
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

LONG RegistryFile::Apply(const Change& change) {
  LONG result = CheckWriteAccess();
  if (result != ERROR_SUCCESS) return result;
  if (const int error = files_.MakeDirectories(directory_)) return ErrorCodeFor(error);
  LockGuard lock(files_);
  if (const int error = lock.Lock(lockPath_)) return ErrorCodeFor(error);

  std::uint64_t counter = 0;
  if (const int error = files_.ReadCounter(lockPath_, &counter)) return ErrorCodeFor(error);
  FileStatus now;
  if (const int error = files_.Status(target_, &now)) return ErrorCodeFor(error);
  if (!CacheIsCurrent(counter, now)) {
    result = Reload(counter);
    if (result != ERROR_SUCCESS) return result;
  }
  bool changed = false;
  result = change(*cache_, &changed);
  if (result != ERROR_SUCCESS || !changed) return result;

  result = Replace(cache_->text());
  if (result != ERROR_SUCCESS) {
    cache_.reset();  // it holds a change the file does not
    return result;
  }
  // The change is made. Should counting it fail, other processes still see
  // a new file; this one trusts its copy no more.
  if (files_.WriteCounter(lock.fd(), counter + 1) != 0 ||
      files_.Status(target_, &cachedVersion_) != 0) {
    cache_.reset();
  }
  cachedCounter_ = counter + 1;
  return ERROR_SUCCESS;
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
