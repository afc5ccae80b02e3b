#include <cerrno>
#include <string>
#include <vector>

#include "file_system.h"
#include "layer_test.h"

namespace {

// The real file system, but the n-th call of one operation fails with error.
class FaultyFiles : public posix_registry::PosixFileSystem {
 public:
  FaultyFiles(std::string operation, int nth, int error)
      : operation_(std::move(operation)), remaining_(nth), error_(error) {}

  int MakeDirectories(const std::string& path) override {
    return Fails("MakeDirectories") ? error_ : PosixFileSystem::MakeDirectories(path);
  }
  int LockExclusive(const std::string& path, int* fd) override {
    return Fails("LockExclusive") ? error_ : PosixFileSystem::LockExclusive(path, fd);
  }
  int CreateExclusive(const std::string& path, mode_t mode, int* fd) override {
    return Fails("CreateExclusive") ? error_ : PosixFileSystem::CreateExclusive(path, mode, fd);
  }
  long Write(int fd, const char* data, std::size_t size) override {
    return Fails("Write") ? -error_ : PosixFileSystem::Write(fd, data, size);
  }
  int Sync(int fd) override { return Fails("Sync") ? error_ : PosixFileSystem::Sync(fd); }
  int Close(int fd) override {
    const int result = PosixFileSystem::Close(fd);  // a failed close still releases fd
    return Fails("Close") ? error_ : result;
  }
  int Rename(const std::string& from, const std::string& to) override {
    return Fails("Rename") ? error_ : PosixFileSystem::Rename(from, to);
  }
  int SyncDirectory(const std::string& path) override {
    return Fails("SyncDirectory") ? error_ : PosixFileSystem::SyncDirectory(path);
  }

 private:
  bool Fails(const std::string& operation) {
    return operation == operation_ && --remaining_ == 0;
  }
  std::string operation_;
  int remaining_;
  int error_;
};

// Writes at most a few bytes a call, as a file system may.
class ShortWrites : public posix_registry::PosixFileSystem {
 public:
  long Write(int fd, const char* data, std::size_t size) override {
    return PosixFileSystem::Write(fd, data, size < 7 ? size : 7);
  }
};

class FileFaultsTest : public LayerTest {
 protected:
  // A registry of well over one write's worth, so that a change takes several.
  void StoreLargeRegistry() {
    std::string sections;
    for (int i = 0; i < 2000; ++i) {
      sections += "[HKEY_LOCAL_MACHINE\\Software\\Key" + std::to_string(1000 + i) +
                  "]\n\"Value\"=\"" + std::string(40, 'v') + "\"\n\n";
    }
    Store(sections);
  }
};

TEST_F(FileFaultsTest, FailedStepLeavesTheFileExactlyAsItWas) {
  const struct {
    const char* operation;
    int nth;
    int error;
    LONG code;
  } faults[] = {
      {"MakeDirectories", 1, EIO, ERROR_REGISTRY_IO_FAILED},
      {"LockExclusive", 1, EACCES, ERROR_ACCESS_DENIED},
      {"CreateExclusive", 1, EIO, ERROR_REGISTRY_IO_FAILED},
      {"CreateExclusive", 1, EACCES, ERROR_ACCESS_DENIED},
      {"Write", 1, ENOSPC, ERROR_REGISTRY_IO_FAILED},
      {"Write", 2, EIO, ERROR_REGISTRY_IO_FAILED},
      {"Sync", 1, EIO, ERROR_REGISTRY_IO_FAILED},
      {"Close", 1, EIO, ERROR_REGISTRY_IO_FAILED},
      {"Rename", 1, EXDEV, ERROR_REGISTRY_IO_FAILED},
      {"Rename", 1, EPERM, ERROR_ACCESS_DENIED},
  };
  StoreLargeRegistry();
  HKEY key = Open("Software\\Key1000", KEY_READ | KEY_WRITE);
  const std::string before = Stored();
  for (const auto& fault : faults) {
    SCOPED_TRACE(std::string(fault.operation) + " #" + std::to_string(fault.nth));
    FaultyFiles files(fault.operation, fault.nth, fault.error);
    posix_registry::UseFileSystemForTesting(&files);
    EXPECT_EQ(SetString(key, "New", "x"), fault.code);
    EXPECT_EQ(Stored(), before);
    EXPECT_FALSE(FileExists(file + ".tmp"));
  }
  posix_registry::UseFileSystemForTesting(nullptr);
  EXPECT_EQ(Query(key, "New"), "<code 2>");
  RegCloseKey(key);
}

TEST_F(FileFaultsTest, RefusedFolderFlushComesAfterTheChangeIsInPlace) {
  StoreLargeRegistry();
  FaultyFiles files("SyncDirectory", 1, EINVAL);
  posix_registry::UseFileSystemForTesting(&files);
  HKEY key = Create("Software\\Key1000");
  EXPECT_EQ(SetString(key, "New", "x"), ERROR_SUCCESS);
  EXPECT_EQ(Query(key, "New"), std::string("x\0", 2));
  RegCloseKey(key);
}

TEST_F(FileFaultsTest, ShortWritesStillWriteTheWholeFile) {
  ShortWrites files;
  posix_registry::UseFileSystemForTesting(&files);
  HKEY key = Create("K");
  EXPECT_EQ(SetString(key, "v", std::string(100, 'x')), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(Stored(), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"" + std::string(100, 'x') + "\"\n\n");
}

TEST_F(FileFaultsTest, LeftoverOrPlantedTemporaryFileIsNeverWrittenThrough) {
  Store("[HKEY_LOCAL_MACHINE\\K]\n");
  const std::string victim = dir.File("victim");
  WriteWholeFile(victim, "keep me");
  std::filesystem::create_symlink(victim, file + ".tmp");
  RegCloseKey(Create("K\\A"));
  EXPECT_EQ(ReadWholeFile(victim), "keep me");

  WriteWholeFile(file + ".tmp", "half a file from a writer that was killed");
  RegCloseKey(Create("K\\B"));
  EXPECT_FALSE(FileExists(file + ".tmp"));
  EXPECT_EQ(Stored(), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n\n[HKEY_LOCAL_MACHINE\\K\\A]\n\n"
                      "[HKEY_LOCAL_MACHINE\\K\\B]\n\n");
}

}  // namespace
