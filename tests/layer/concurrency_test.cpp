#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "layer_test.h"

namespace {

constexpr int kProcesses = 4;
constexpr int kChangesEach = 25;

// One writer: its own keys and values, each change a separate replacement.
int WriteOwnKeys(int process) {
  for (int i = 0; i < kChangesEach; ++i) {
    const std::string path = "P" + std::to_string(process) + "\\K" + std::to_string(i);
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
      return 1;
    }
    const std::string value = std::to_string(i);
    const LONG set = RegSetValueExA(key, "n", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                    static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    if (set != ERROR_SUCCESS) return 1;
  }
  return 0;
}

TEST_F(LayerTest, ProcessesChangingTheFileAtOnceLoseNothing) {
  Store("[HKEY_LOCAL_MACHINE\\Shared]\n");
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = fork();
    ASSERT_NE(pid, -1);
    if (pid == 0) _exit(WriteOwnKeys(p));
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int p = 0; p < kProcesses; ++p) {
    for (int i = 0; i < kChangesEach; ++i) {
      const std::string path = "P" + std::to_string(p) + "\\K" + std::to_string(i);
      HKEY key = Open(path.c_str());
      EXPECT_EQ(Query(key, "n"), std::to_string(i) + '\0');
      RegCloseKey(key);
    }
  }
}

}  // namespace
