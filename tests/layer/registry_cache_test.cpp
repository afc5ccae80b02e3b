#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "driver/run_enabler.h"
#include "file_system.h"
#include "layer_test.h"

namespace {

// Counts the times the registry file is read.
class CountingFiles : public posix_registry::PosixFileSystem {
 public:
  int ReadFile(const std::string& path, std::string* contents,
               posix_registry::FileStatus* status) override {
    ++reads;
    return PosixFileSystem::ReadFile(path, contents, status);
  }
  int reads = 0;
};

// A file system whose every file looks the same: as if inodes were reused
// and timestamps too coarse to tell one version from the next.
class IdentityBlindFiles : public posix_registry::PosixFileSystem {
 public:
  int ReadFile(const std::string& path, std::string* contents,
               posix_registry::FileStatus* status) override {
    const int error = PosixFileSystem::ReadFile(path, contents, status);
    Blind(status);
    return error;
  }
  int Status(const std::string& path, posix_registry::FileStatus* status) override {
    const int error = PosixFileSystem::Status(path, status);
    Blind(status);
    return error;
  }

 private:
  static void Blind(posix_registry::FileStatus* status) {
    status->device = 1;
    status->inode = 1;
    status->size = 1;
    status->modifiedNanoseconds = 1;
    status->changedNanoseconds = 1;
  }
};

int ChangeInAnotherProcess(const char* path, const char* value) {
  const pid_t pid = fork();
  if (pid == 0) {
    posix_registry::UseFileSystemForTesting(nullptr);
    HKEY key = nullptr;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (result == ERROR_SUCCESS) {
      result = RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), 2);
    }
    _exit(result == ERROR_SUCCESS ? 0 : 1);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  return status;
}

TEST_F(LayerTest, ARunReadsTheFileOnce) {
  WriteWholeFile(file, ReadWholeFile(std::string(EXAMPLES_DIR) + "/standard-edition.reg"));
  CountingFiles files;
  posix_registry::UseFileSystemForTesting(&files);
  std::string name = "trenlist";
  char* argv[] = {name.data(), nullptr};
  for (const char* run : {"registration", "already enabled"}) {
    SCOPED_TRACE(run);
    files.reads = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunEnabler(1, argv), 0);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find("Torvo Standard"), std::string::npos);
    EXPECT_EQ(files.reads, 1);
    posix_registry::UseFileSystemForTesting(&files);  // a new process: nothing in memory
  }
}

TEST_F(LayerTest, ChangesAndReadsSeeWhatOthersWrote) {
  for (const bool blind : {false, true}) {
    SCOPED_TRACE(blind ? "identity blind" : "identity seen");
    std::remove(file.c_str());
    IdentityBlindFiles blindFiles;
    posix_registry::UseFileSystemForTesting(blind ? &blindFiles : nullptr);
    HKEY key = Create("Mine");  // now held in memory
    RegCloseKey(key);

    ASSERT_EQ(ChangeInAnotherProcess("Theirs", "a"), 0);
    key = Open("Theirs");  // a read after another process's change
    EXPECT_EQ(Query(key, "v"), std::string("a\0", 2));
    RegCloseKey(key);

    ASSERT_EQ(ChangeInAnotherProcess("Theirs", "b"), 0);
    RegCloseKey(Create("Mine\\Sub"));  // a change after it keeps it
    key = Open("Theirs");
    EXPECT_EQ(Query(key, "v"), std::string("b\0", 2));
    RegCloseKey(key);
    EXPECT_NE(Stored().find("\"v\"=\"b\""), std::string::npos);
  }
}

TEST_F(LayerTest, AFileEditedByHandIsReadAgain) {
  Store("[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"old\"\n");
  HKEY key = Open("K");
  EXPECT_EQ(Query(key, "v"), std::string("old\0", 4));
  Store("[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"new, and longer\"\n");
  EXPECT_EQ(Query(key, "v"), std::string("new, and longer\0", 16));
  RegCloseKey(key);
}

}  // namespace
