#include "file_system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace posix_registry {

namespace {

template <typename Call>
auto RetryOnInterrupt(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

// Room for any 64-bit count, zero-padded so that each one overwrites the last.
constexpr std::size_t kCounterWidth = 20;

void Describe(const struct stat& info, FileStatus* status) {
  status->exists = true;
  status->mode = info.st_mode & 07777;
  status->owner = info.st_uid;
  status->group = info.st_gid;
  status->device = info.st_dev;
  status->inode = info.st_ino;
  status->size = info.st_size;
  status->modifiedNanoseconds =
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  status->changedNanoseconds =
      static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
}

}  // namespace

int PosixFileSystem::ReadFile(const std::string& path, std::string* contents,
                              FileStatus* status) {
  *status = FileStatus{};
  const int fd = RetryOnInterrupt([&] { return open(path.c_str(), O_RDONLY | O_CLOEXEC); });
  if (fd == -1) return errno;
  struct stat info {};
  int error = fstat(fd, &info) == -1 ? errno : 0;
  if (error == 0) {
    Describe(info, status);
    contents->clear();
    if (S_ISREG(info.st_mode)) contents->reserve(static_cast<std::size_t>(info.st_size));
  }
  std::size_t used = 0;
  while (error == 0) {
    if (contents->size() - used < 65536) contents->resize(used + 65536);
    const ssize_t count = RetryOnInterrupt(
        [&] { return read(fd, contents->data() + used, contents->size() - used); });
    if (count == -1) {
      error = errno;
    } else if (count == 0) {
      break;
    } else {
      used += static_cast<std::size_t>(count);
    }
  }
  contents->resize(used);
  close(fd);
  return error;
}

int PosixFileSystem::ReadLink(const std::string& path, std::string* target) {
  char buffer[4096];
  const ssize_t length = readlink(path.c_str(), buffer, sizeof buffer);
  if (length == -1) return errno;
  if (static_cast<std::size_t>(length) == sizeof buffer) return ENAMETOOLONG;
  target->assign(buffer, static_cast<std::size_t>(length));
  return 0;
}

int PosixFileSystem::Status(const std::string& path, FileStatus* status) {
  struct stat info {};
  *status = FileStatus{};
  if (stat(path.c_str(), &info) == -1) return errno == ENOENT ? 0 : errno;
  Describe(info, status);
  return 0;
}

int PosixFileSystem::CheckWritable(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) == -1) return errno;
  const int mode = S_ISDIR(info.st_mode) ? (W_OK | X_OK) : W_OK;
  return faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == -1 ? errno : 0;
}

int PosixFileSystem::MakeDirectories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), 0755) == -1 && errno != EEXIST) return errno;
    if (slash == std::string::npos) return 0;
  }
}

int PosixFileSystem::LockExclusive(const std::string& path, int* fd) {
  // Never truncated and never replaced, so every process locks the same file.
  *fd = RetryOnInterrupt([&] {
    return open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  });
  if (*fd == -1) return errno;
  if (RetryOnInterrupt([&] { return flock(*fd, LOCK_EX); }) == -1) {
    const int error = errno;
    close(*fd);
    return error;
  }
  return 0;
}

void PosixFileSystem::Unlock(int fd) {
  flock(fd, LOCK_UN);
  close(fd);
}

int PosixFileSystem::ReadCounter(const std::string& path, std::uint64_t* counter) {
  *counter = 0;
  const int fd = RetryOnInterrupt([&] { return open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC); });
  if (fd == -1) return errno == ENOENT ? 0 : errno;
  char digits[kCounterWidth];
  const ssize_t count = RetryOnInterrupt([&] { return pread(fd, digits, sizeof digits, 0); });
  const int error = count == -1 ? errno : 0;
  close(fd);
  for (ssize_t i = 0; i < count && digits[i] >= '0' && digits[i] <= '9'; ++i) {
    *counter = *counter * 10 + static_cast<std::uint64_t>(digits[i] - '0');
  }
  return error;
}

int PosixFileSystem::WriteCounter(int fd, std::uint64_t counter) {
  char digits[kCounterWidth + 2];
  std::snprintf(digits, sizeof digits, "%020llu\n", static_cast<unsigned long long>(counter));
  const ssize_t count = RetryOnInterrupt([&] { return pwrite(fd, digits, kCounterWidth + 1, 0); });
  if (count == -1) return errno;
  return count == static_cast<ssize_t>(kCounterWidth + 1) ? 0 : EIO;
}

int PosixFileSystem::CreateExclusive(const std::string& path, mode_t mode, int* fd) {
  *fd = RetryOnInterrupt([&] {
    return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  });
  return *fd == -1 ? errno : 0;
}

int PosixFileSystem::CopyModeAndOwner(int fd, const FileStatus& status) {
  // Keeping the owner is only possible for a privileged process.
  if (fchown(fd, status.owner, status.group) == -1 && errno != EPERM) return errno;
  return fchmod(fd, status.mode) == -1 ? errno : 0;
}

long PosixFileSystem::Write(int fd, const char* data, std::size_t size) {
  const ssize_t count = RetryOnInterrupt([&] { return write(fd, data, size); });
  return count == -1 ? -errno : static_cast<long>(count);
}

int PosixFileSystem::Sync(int fd) { return fsync(fd) == -1 ? errno : 0; }

int PosixFileSystem::Close(int fd) { return close(fd) == -1 ? errno : 0; }

int PosixFileSystem::Rename(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == -1 ? errno : 0;
}

int PosixFileSystem::SyncDirectory(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd == -1) return errno;
  const int error = fsync(fd) == -1 ? errno : 0;
  close(fd);
  return error;
}

int PosixFileSystem::Remove(const std::string& path) {
  return unlink(path.c_str()) == -1 ? errno : 0;
}

}  // namespace posix_registry
