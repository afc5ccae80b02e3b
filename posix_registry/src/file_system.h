#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace posix_registry {

struct FileStatus {
  bool exists = false;
  mode_t mode = 0;  // permission bits
  uid_t owner = 0;
  gid_t group = 0;
  // Which file, and which version of it, as far as the file system tells.
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  std::int64_t modifiedNanoseconds = 0;
  std::int64_t changedNanoseconds = 0;

  bool SameVersion(const FileStatus& other) const {
    return exists == other.exists && device == other.device && inode == other.inode &&
           size == other.size && modifiedNanoseconds == other.modifiedNanoseconds &&
           changedNanoseconds == other.changedNanoseconds;
  }
};

// Every file operation the registry file needs. Each returns 0 or an errno
// value (Write: the count written, or minus an errno value), so that tests
// can make any step fail.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Reads the whole file and tells which version of it that was.
  virtual int ReadFile(const std::string& path, std::string* contents, FileStatus* status) = 0;
  virtual int ReadLink(const std::string& path, std::string* target) = 0;
  virtual int Status(const std::string& path, FileStatus* status) = 0;
  // W_OK for a file, W_OK and X_OK for a folder, as this process.
  virtual int CheckWritable(const std::string& path) = 0;
  virtual int MakeDirectories(const std::string& path) = 0;

  // Opens (creating, never truncating) and locks path; *fd holds the lock.
  virtual int LockExclusive(const std::string& path, int* fd) = 0;
  virtual void Unlock(int fd) = 0;
  // The count of changes kept in the lock file (0 while there is none), read
  // without the lock, and bumped through the locked fd.
  virtual int ReadCounter(const std::string& path, std::uint64_t* counter) = 0;
  virtual int WriteCounter(int fd, std::uint64_t counter) = 0;

  // Creates a file that must not exist yet, following no symbolic link.
  virtual int CreateExclusive(const std::string& path, mode_t mode, int* fd) = 0;
  // Gives fd the permission bits and, where permitted, the owner of status.
  virtual int CopyModeAndOwner(int fd, const FileStatus& status) = 0;
  virtual long Write(int fd, const char* data, std::size_t size) = 0;
  virtual int Sync(int fd) = 0;
  virtual int Close(int fd) = 0;
  virtual int Rename(const std::string& from, const std::string& to) = 0;
  virtual int SyncDirectory(const std::string& path) = 0;
  virtual int Remove(const std::string& path) = 0;
};

// The real thing, through POSIX calls.
class PosixFileSystem : public FileSystem {
 public:
  int ReadFile(const std::string& path, std::string* contents, FileStatus* status) override;
  int ReadLink(const std::string& path, std::string* target) override;
  int Status(const std::string& path, FileStatus* status) override;
  int CheckWritable(const std::string& path) override;
  int MakeDirectories(const std::string& path) override;
  int LockExclusive(const std::string& path, int* fd) override;
  void Unlock(int fd) override;
  int ReadCounter(const std::string& path, std::uint64_t* counter) override;
  int WriteCounter(int fd, std::uint64_t counter) override;
  int CreateExclusive(const std::string& path, mode_t mode, int* fd) override;
  int CopyModeAndOwner(int fd, const FileStatus& status) override;
  long Write(int fd, const char* data, std::size_t size) override;
  int Sync(int fd) override;
  int Close(int fd) override;
  int Rename(const std::string& from, const std::string& to) override;
  int SyncDirectory(const std::string& path) override;
  int Remove(const std::string& path) override;
};

}  // namespace posix_registry
