#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "layer_test.h"

namespace {

constexpr uid_t kNobody = 65534;

// Runs checks in a process of its own that is not root (as root, it becomes
// the user nobody). Returns what the checks found wrong.
std::string AsAnotherUser(const std::function<std::string()>& checks) {
  int report[2];
  if (pipe(report) != 0) return "no pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    close(report[0]);
    std::string found;
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
      found = "cannot drop root";
    }
    if (found.empty()) found = checks();
    const ssize_t written = write(report[1], found.data(), found.size());
    _exit(written == static_cast<ssize_t>(found.size()) ? 0 : 1);
  }
  close(report[1]);
  std::string found;
  char chunk[256];
  for (ssize_t count; (count = read(report[0], chunk, sizeof chunk)) > 0;) found.append(chunk, static_cast<std::size_t>(count));
  close(report[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return found;
}

std::string Expect(const char* what, LONG actual, LONG expected) {
  if (actual == expected) return "";
  return std::string(what) + " gave " + std::to_string(actual) + ", not " + std::to_string(expected) + "; ";
}

// Root's registry, in a folder anyone may read: other users may only read it.
class AccessTest : public LayerTest {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    Store("[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"x\"\n");
    const bool root = geteuid() == 0;
    ASSERT_EQ(chmod(dir.path().c_str(), root ? 0755 : 0555), 0);
    ASSERT_EQ(chmod(file.c_str(), root ? 0644 : 0444), 0);
  }
  void TearDown() override {
    chmod(dir.path().c_str(), 0755);
    LayerTest::TearDown();
  }
};

TEST_F(AccessTest, ReadsWorkAndEveryChangeIsRefused) {
  const std::string before = Stored();
  const std::string found = AsAnotherUser([] {
    std::string wrong;
    HKEY key = nullptr;
    wrong += Expect("open for reading", RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, &key), ERROR_SUCCESS);
    if (Query(key, "v") != std::string("x\0", 2)) wrong += "query did not read the value; ";
    RegCloseKey(key);
    wrong += Expect("open for writing", RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_WRITE, &key),
                    ERROR_ACCESS_DENIED);
    wrong += Expect("create of an existing key",
                    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "K", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
                    ERROR_ACCESS_DENIED);
    wrong += Expect("create of a new key",
                    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "K\\New", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
                    ERROR_ACCESS_DENIED);
    return wrong;
  });
  EXPECT_EQ(found, "");
  EXPECT_EQ(Stored(), before);
  EXPECT_FALSE(FileExists(file + ".lock"));
  EXPECT_FALSE(FileExists(file + ".tmp"));
}

TEST_F(AccessTest, AFileTheUserCannotReadIsAccessDenied) {
  ASSERT_EQ(chmod(file.c_str(), geteuid() == 0 ? 0600 : 0000), 0);
  const std::string before = ReadWholeFile(file);
  const std::string found = AsAnotherUser([] {
    HKEY key = nullptr;
    return Expect("open", RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, &key), ERROR_ACCESS_DENIED);
  });
  EXPECT_EQ(found, "");
  chmod(file.c_str(), 0644);
  EXPECT_EQ(ReadWholeFile(file), before);
}

}  // namespace
