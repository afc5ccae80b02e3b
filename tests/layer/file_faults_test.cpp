#include <algorithm>
#include <cerrno>
#include <cstdint>
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

// Records every file operation by name, and makes the n-th one fail.
class StepFaults : public posix_registry::PosixFileSystem {
 public:
  using FileStatus = posix_registry::FileStatus;
  explicit StepFaults(int failing = 0) : failing_(failing) {}

  int ReadFile(const std::string& p, std::string* c, FileStatus* s) override {
    return Step("ReadFile") ? EIO : PosixFileSystem::ReadFile(p, c, s);
  }
  int ReadLink(const std::string& p, std::string* t) override {
    return Step("ReadLink") ? EIO : PosixFileSystem::ReadLink(p, t);
  }
  int Status(const std::string& p, FileStatus* s) override {
    return Step("Status") ? EIO : PosixFileSystem::Status(p, s);
  }
  int CheckWritable(const std::string& p) override {
    return Step("CheckWritable") ? EIO : PosixFileSystem::CheckWritable(p);
  }
  int MakeDirectories(const std::string& p) override {
    return Step("MakeDirectories") ? EIO : PosixFileSystem::MakeDirectories(p);
  }
  int LockExclusive(const std::string& p, int* fd) override {
    return Step("LockExclusive") ? EIO : PosixFileSystem::LockExclusive(p, fd);
  }
  int ReadCounter(const std::string& p, std::uint64_t* c) override {
    return Step("ReadCounter") ? EIO : PosixFileSystem::ReadCounter(p, c);
  }
  int WriteCounter(int fd, std::uint64_t c) override {
    return Step("WriteCounter") ? EIO : PosixFileSystem::WriteCounter(fd, c);
  }
  int CreateExclusive(const std::string& p, mode_t m, int* fd) override {
    return Step("CreateExclusive") ? EIO : PosixFileSystem::CreateExclusive(p, m, fd);
  }
  int CopyModeAndOwner(int fd, const FileStatus& s) override {
    return Step("CopyModeAndOwner") ? EIO : PosixFileSystem::CopyModeAndOwner(fd, s);
  }
  long Write(int fd, const char* d, std::size_t n) override {
    return Step("Write") ? -EIO : PosixFileSystem::Write(fd, d, n);
  }
  int Sync(int fd) override { return Step("Sync") ? EIO : PosixFileSystem::Sync(fd); }
  int Close(int fd) override {
    const int result = PosixFileSystem::Close(fd);
    return Step("Close") ? EIO : result;
  }
  int Rename(const std::string& f, const std::string& t) override {
    return Step("Rename") ? EIO : PosixFileSystem::Rename(f, t);
  }
  int SyncDirectory(const std::string& p) override {
    return Step("SyncDirectory") ? EIO : PosixFileSystem::SyncDirectory(p);
  }
  int Remove(const std::string& p) override {
    return Step("Remove") ? EIO : PosixFileSystem::Remove(p);
  }

  std::vector<std::string> steps;

 private:
  bool Step(const char* name) {
    steps.emplace_back(name);
    return static_cast<int>(steps.size()) == failing_;
  }
  int failing_;
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

TEST_F(FileFaultsTest, EachStepOfAChangeFailingInTurnLeavesNothingHalfDone) {
  StoreLargeRegistry();
  const std::string before = Stored();
  const auto change = [] {
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Key1000", 0, KEY_WRITE, &key);
    if (result == ERROR_SUCCESS) result = SetString(key, "New", "x");
    RegCloseKey(key);
    return result;
  };

  ASSERT_EQ(change(), ERROR_SUCCESS);  // so that every run starts with a lock file
  WriteWholeFile(file, before);
  StepFaults recorder;  // a change that works, to learn its steps
  posix_registry::UseFileSystemForTesting(&recorder);
  ASSERT_EQ(change(), ERROR_SUCCESS);
  const std::string after = Stored();
  const std::vector<std::string> steps = recorder.steps;
  const auto rename = std::find(steps.begin(), steps.end(), "Rename");
  ASSERT_NE(rename, steps.end());
  ASSERT_GT(std::count(steps.begin(), steps.end(), "Write"), 1);

  for (std::size_t failing = 1; failing <= steps.size(); ++failing) {
    const std::string& step = steps[failing - 1];
    SCOPED_TRACE("step " + std::to_string(failing) + ": " + step);
    WriteWholeFile(file, before);
    StepFaults files(static_cast<int>(failing));
    posix_registry::UseFileSystemForTesting(&files);  // and nothing in memory
    const LONG result = change();
    EXPECT_FALSE(FileExists(file + ".tmp"));
    if (result == ERROR_SUCCESS) {
      EXPECT_EQ(Stored(), after);
    } else {
      EXPECT_EQ(Stored(), before);
    }
    // Up to the rename, a step that fails fails the change; after it, the
    // change is made and reported as made.
    const bool beforeRename = failing <= static_cast<std::size_t>(rename - steps.begin()) + 1;
    const bool pipeline = step == "CreateExclusive" || step == "Write" || step == "Sync" ||
                          step == "Close" || step == "Rename";
    if (pipeline && beforeRename) {
      EXPECT_NE(result, ERROR_SUCCESS);
    } else if (!beforeRename) {
      EXPECT_EQ(result, ERROR_SUCCESS);
    }
  }
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

TEST_F(FileFaultsTest, LeftoverOrPlantedSideFilesAreNeverWrittenThrough) {
  Store("[HKEY_LOCAL_MACHINE\\K]\n");
  const std::string victim = dir.File("victim");
  WriteWholeFile(victim, "keep me");
  std::filesystem::create_symlink(victim, file + ".tmp");
  RegCloseKey(Create("K\\A"));
  EXPECT_EQ(ReadWholeFile(victim), "keep me");

  // A planted lock file is not written through either: the change is refused.
  std::filesystem::remove(file + ".lock");
  std::filesystem::create_symlink(victim, file + ".lock");
  const std::string before = Stored();
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "K\\C", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_REGISTRY_IO_FAILED);
  EXPECT_EQ(ReadWholeFile(victim), "keep me");
  EXPECT_EQ(Stored(), before);
  std::filesystem::remove(file + ".lock");

  WriteWholeFile(file + ".tmp", "half a file from a writer that was killed");
  RegCloseKey(Create("K\\B"));
  EXPECT_FALSE(FileExists(file + ".tmp"));
  EXPECT_EQ(Stored(), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n\n[HKEY_LOCAL_MACHINE\\K\\A]\n\n"
                      "[HKEY_LOCAL_MACHINE\\K\\B]\n\n");
}

}  // namespace
