#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "layer_test.h"

namespace {

constexpr int kProcesses = 4;
constexpr int kChangesEach = 25;
// Rounds stop at this count or after this long, whichever comes first.
constexpr int kMaxRounds = 20;
constexpr auto kTimeBudget = std::chrono::seconds(10);

std::string KeyPath(int round, int process, int change) {
  return "R" + std::to_string(round) + "\\P" + std::to_string(process) + "\\K" + std::to_string(change);
}

// One writer: its own keys and values, each change a separate replacement.
int WriteOwnKeys(int round, int process) {
  for (int i = 0; i < kChangesEach; ++i) {
    const std::string path = KeyPath(round, process, i);
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
  const auto deadline = std::chrono::steady_clock::now() + kTimeBudget;
  int rounds = 0;
  for (; rounds < kMaxRounds && std::chrono::steady_clock::now() < deadline; ++rounds) {
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
      const pid_t pid = fork();
      ASSERT_NE(pid, -1);
      if (pid == 0) _exit(WriteOwnKeys(rounds, p));
      children.push_back(pid);
    }
    for (const pid_t pid : children) {
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
  }
  for (int round = 0; round < rounds; ++round) {
    for (int p = 0; p < kProcesses; ++p) {
      for (int i = 0; i < kChangesEach; ++i) {
        HKEY key = Open(KeyPath(round, p, i).c_str());
        EXPECT_EQ(Query(key, "n"), std::to_string(i) + '\0');
        RegCloseKey(key);
      }
    }
  }
}

}  // namespace
