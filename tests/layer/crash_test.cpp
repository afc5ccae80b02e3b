#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "layer_test.h"
#include "registry_text.h"

namespace {

using Clock = std::chrono::steady_clock;

// Rounds stop at this count or after this long, whichever comes first.
constexpr int kMaxRounds = 300;
constexpr auto kTimeBudget = std::chrono::seconds(15);

// One change in a process of its own: the value "Round" set to round.
pid_t StartWriter(int round) {
  const pid_t pid = fork();
  if (pid == 0) {
    HKEY key = nullptr;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Crash", 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &key, nullptr);
    const std::string value = std::to_string(round);
    if (result == ERROR_SUCCESS) {
      result = RegSetValueExA(key, "Round", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>(value.size() + 1));
    }
    _exit(result == ERROR_SUCCESS ? 0 : 1);
  }
  return pid;
}

// The file the change of round would leave, from the file before it.
std::string AfterRound(const std::string& before, int round) {
  posix_registry::Key root;
  posix_registry::TextFault fault;
  EXPECT_TRUE(posix_registry::ParseRegistryText(before, &root, &fault));
  const std::string value = std::to_string(round) + '\0';
  root.FindOrCreate({"Software", "Crash"}, nullptr).values["Round"] = {REG_SZ, value};
  return posix_registry::WriteRegistryText(root);
}

TEST_F(LayerTest, WritersKilledAtRandomInstantsLeaveTheOldFileOrTheNew) {
  std::string sections;
  for (int i = 0; i < 3000; ++i) {
    sections += "[HKEY_LOCAL_MACHINE\\Software\\Vendor" + std::to_string(i) + "]\n\"Path\"=\"C:\\\\Program Files\\\\Vendor" +
                std::to_string(i) + "\"\n\n";
  }
  Store(sections);

  // How long a writer takes, to spread the kills over it. This process never
  // reads the registry through the layer, so no writer finds it in memory.
  auto changeTime = std::chrono::microseconds::max();
  int status = 0;
  for (int round = -3; round < 0; ++round) {
    const auto started = Clock::now();
    waitpid(StartWriter(round), &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    changeTime = std::min(changeTime, std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started));
  }

  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<long> delay(0, changeTime.count() * 3 / 2);
  int killedBefore = 0, killedAfter = 0, leftTemporary = 0, rounds = 0;
  const auto deadline = Clock::now() + kTimeBudget;
  for (int round = 1; round <= kMaxRounds && Clock::now() < deadline; ++round, ++rounds) {
    const std::string before = Stored();
    const std::string after = AfterRound(before, round);
    const pid_t writer = StartWriter(round);
    std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
    kill(writer, SIGKILL);
    ASSERT_EQ(waitpid(writer, &status, 0), writer);

    const std::string now = Stored();
    ASSERT_TRUE(now == before || now == after) << "round " << round << " left a file that is neither";
    (now == before ? killedBefore : killedAfter)++;
    leftTemporary += FileExists(file + ".tmp") ? 1 : 0;
  }
  // A writer after all that removes what a killed one left, and works.
  waitpid(StartWriter(kMaxRounds + 1), &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Stored(), AfterRound(Stored(), kMaxRounds + 1));
  EXPECT_FALSE(FileExists(file + ".tmp"));
  std::printf("a change takes %lld us; ", static_cast<long long>(changeTime.count()));
  std::printf("%d rounds: %d killed before the change was in place, %d after; %d left a temporary file\n",
              rounds, killedBefore, killedAfter, leftTemporary);
}

}  // namespace
