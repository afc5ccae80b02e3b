// How trenlist and the registry layer scale with the size of the registry:
// a full registration and an already-enabled run of the built program, one
// change through the layer, and copying the file with cp and sync, side by
// side, on registries of 1 thousand, 100 thousand and 1 million values.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "posix_registry.h"
#include "registry_text.h"
#include "registry_tree.h"

extern char** environ;

namespace {

using posix_registry::Key;
using posix_registry::Value;
using Clock = std::chrono::steady_clock;

Value Text(const std::string& text) { return {REG_SZ, text + '\0'}; }
Value Dword(std::uint32_t number) {
  std::string bytes;
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>(number >> shift));
  return {REG_DWORD, bytes};
}
std::string Guid(std::size_t n) {
  char guid[40];
  std::snprintf(guid, sizeof guid, "{%08zX-%04zX-4%03zX-A%03zX-%012zX}", n * 2654435761u % 0xFFFFFFFFu,
                n % 0xFFFF, n % 0xFFF, (n * 7) % 0xFFF, n * 40503u);
  return guid;
}

// A registry of about `values` values, shaped like a machine's
// HKEY_LOCAL_MACHINE\Software: COM classes, uninstall entries, vendors'
// settings; with the update service and the Standard edition installed.
std::string GenerateRegistry(std::size_t values) {
  Key root;
  const auto key = [&root](std::vector<std::string> path) -> Key& { return root.FindOrCreate(path, nullptr); };
  const std::string appPaths = "App Paths";
  key({"SOFTWARE", "Microsoft", "Windows", "CurrentVersion", appPaths, "TRMAIN.EXE"}).values[""] =
      Text("C:\\Program Files\\Morvanex\\TideRunner\\trmain.exe");
  key({"SOFTWARE", "Microsoft", "Windows", "CurrentVersion", appPaths, "torvo.exe"}).values[""] =
      Text("C:\\Program Files\\Morvanex\\Torvo\\torvo.exe");
  key({"SOFTWARE", "Morvanex", "InstalledApps"}).values["TORVO"] = Text("C:\\Program Files\\Morvanex\\Torvo");
  key({"SOFTWARE", "Morvanex", "TideRunner", "1.5"});

  for (std::size_t n = 0; n * 10 < values; ++n) {
    const std::string guid = Guid(n);
    const std::string vendor = "Vendor" + std::to_string(n % 997);
    const std::string product = "Product" + std::to_string(n);
    Key& server = key({"SOFTWARE", "Classes", "CLSID", guid, "InprocServer32"});
    server.values[""] = Text("C:\\Program Files\\" + vendor + "\\" + product + "\\" + product + ".dll");
    server.values["ThreadingModel"] = Text("Apartment");
    Key& uninstall = key({"SOFTWARE", "Microsoft", "Windows", "CurrentVersion", "Uninstall", guid});
    uninstall.values["DisplayName"] = Text(vendor + " " + product);
    uninstall.values["DisplayVersion"] = Text(std::to_string(n % 20) + "." + std::to_string(n % 7) + ".1");
    uninstall.values["Publisher"] = Text(vendor + " Corporation");
    uninstall.values["InstallLocation"] = Text("C:\\Program Files\\" + vendor + "\\" + product + "\\");
    uninstall.values["EstimatedSize"] = Dword(static_cast<std::uint32_t>(n * 37 % 100000));
    uninstall.values["NoModify"] = Dword(1);
    Key& settings = key({"SOFTWARE", vendor, product, "Settings"});
    settings.values["Flags"] = Dword(static_cast<std::uint32_t>(n));
    settings.values["State"] = {REG_BINARY, std::string(24, static_cast<char>(n))};
  }
  return posix_registry::WriteRegistryText(root);
}

struct Sizes {
  std::string directory;
  std::map<std::int64_t, std::string> generated;  // values -> file

  const std::string& File(std::int64_t values) {
    std::string& file = generated[values];
    if (file.empty()) {
      file = directory + "/base-" + std::to_string(values) + ".reg";
      // In a process of its own: a child's peak memory counts the memory of
      // the process it was forked from, so this one must stay small.
      const pid_t pid = fork();
      if (pid == 0) {
        std::ofstream(file, std::ios::binary) << GenerateRegistry(static_cast<std::size_t>(values));
        _exit(0);
      }
      waitpid(pid, nullptr, 0);
    }
    return file;
  }
};

Sizes& Registries() {
  static Sizes sizes = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "trenlist-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return Sizes{pattern, {}};
  }();
  return sizes;
}

struct Run {
  double seconds;
  double peakMegabytes;
};

// Runs a program to its end with standard output discarded.
Run Spawn(std::vector<std::string> arguments, const std::string& registry = "") {
  std::vector<std::string> environment = {"WINREG_HKLM=" + registry};
  for (char** variable = environ; *variable != nullptr; ++variable) environment.emplace_back(*variable);
  std::vector<char*> argv, envp;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  for (std::string& variable : environment) envp.push_back(variable.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto started = Clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) std::abort();
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::abort();
  return {seconds, static_cast<double>(usage.ru_maxrss) / 1024.0};
}

void Describe(benchmark::State& state, const std::string& file, double peak) {
  state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(file)) / 1e6;
  if (peak > 0) state.counters["peak_MB"] = peak;
}

void FullRegistration(benchmark::State& state) {
  const std::string& base = Registries().File(state.range(0));
  const std::string registry = Registries().directory + "/registration.reg";
  double peak = 0;
  for (auto _ : state) {
    std::filesystem::copy_file(base, registry, std::filesystem::copy_options::overwrite_existing);
    const Run run = Spawn({TRENLIST_BINARY}, registry);
    state.SetIterationTime(run.seconds);
    peak = std::max(peak, run.peakMegabytes);
  }
  Describe(state, base, peak);
}

void AlreadyEnabled(benchmark::State& state) {
  const std::string registry = Registries().directory + "/enabled.reg";
  std::filesystem::copy_file(Registries().File(state.range(0)), registry,
                             std::filesystem::copy_options::overwrite_existing);
  Spawn({TRENLIST_BINARY}, registry);
  double peak = 0;
  for (auto _ : state) {
    const Run run = Spawn({TRENLIST_BINARY}, registry);
    state.SetIterationTime(run.seconds);
    peak = std::max(peak, run.peakMegabytes);
  }
  Describe(state, registry, peak);
}

// One RegSetValueExA through the layer, with the registry already in memory
// (run last: this process then holds the largest registry).
void OneChange(benchmark::State& state) {
  const std::string registry = Registries().directory + "/change.reg";
  std::filesystem::copy_file(Registries().File(state.range(0)), registry,
                             std::filesystem::copy_options::overwrite_existing);
  setenv("WINREG_HKLM", registry.c_str(), 1);
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Morvanex\\Bench", 0, nullptr, 0, KEY_WRITE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    std::abort();
  }
  std::uint32_t count = 0;
  for (auto _ : state) {
    ++count;
    const auto started = Clock::now();
    if (RegSetValueExA(key, "Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), 4) != ERROR_SUCCESS) {
      std::abort();
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - started).count());
  }
  RegCloseKey(key);
  Describe(state, registry, 0);
}

// What a change is measured against: cp of the file, then sync of the copy.
void CopyAndSync(benchmark::State& state) {
  const std::string& base = Registries().File(state.range(0));
  const std::string copy = Registries().directory + "/copy.reg";
  for (auto _ : state) {
    const Run cp = Spawn({"/bin/cp", base, copy});
    const Run sync = Spawn({"/bin/sync", copy});
    state.SetIterationTime(cp.seconds + sync.seconds);
  }
  Describe(state, base, 0);
}

void OnEachSize(benchmark::internal::Benchmark* benchmark) {
  benchmark->UseManualTime()->Unit(benchmark::kMillisecond);
  benchmark->Arg(1000)->Arg(100000)->Arg(1000000)->Iterations(5);
}

BENCHMARK(FullRegistration)->Apply(OnEachSize);
BENCHMARK(AlreadyEnabled)->Apply(OnEachSize);
BENCHMARK(OneChange)->Apply(OnEachSize);
BENCHMARK(CopyAndSync)->Apply(OnEachSize);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(Registries().directory);
  return 0;
}
