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

}  // namespace

int PosixFileSystem::ReadFile(const std::string& path, std::string* contents) {
  const int fd = RetryOnInterrupt([&] { return open(path.c_str(), O_RDONLY | O_CLOEXEC); });
  if (fd == -1) return errno;
  contents->clear();
  char chunk[65536];
  int error = 0;
  for (;;) {
    const ssize_t count = RetryOnInterrupt([&] { return read(fd, chunk, sizeof chunk); });
    if (count == -1) {
      error = errno;
      break;
    }
    if (count == 0) break;
    contents->append(chunk, static_cast<std::size_t>(count));
  }
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
  status->exists = true;
  status->mode = info.st_mode & 07777;
  status->owner = info.st_uid;
  status->group = info.st_gid;
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
  // Never truncated and never replaced, so every process locks the same file;
  // read access is all that flock needs.
  *fd = RetryOnInterrupt([&] {
    return open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
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
