// Runs the built trenlist on registry files and checks its output, its exit
// status and the registry file it leaves.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "temp_dir.h"

extern char** environ;

namespace {

const std::string kBanner = "TideRunner Enabler for Morvanex Torvo - version 6.0.3.68\n";
const std::string kPrerequisites = kBanner +
    "Tiderunner installed at C:\\Program Files\\Morvanex\\TideRunner\\trmain.exe\n"
    "Torvo installed at C:\\Program Files\\Morvanex\\Torvo\n";
const std::string kStandardFound =
    "Torvo Enterprise is not installed\n"
    "Torvo Standard is installed at C:\\Program Files\\Morvanex\\Torvo\\torvo.exe\n";
const std::string kStandardCreated =
    "creating tiderunner key Software\\Morvanex\\TideRunner\\1.5\\RegisteredProducts\\"
    "{5E31B7D2-2C4F-13a9-9B21-0060B7C4E1D5}\n"
    "creating tiderunner key Software\\Morvanex\\TideRunner\\Sequences\\Torvo Standard\n"
    "creating tiderunner key Software\\Morvanex\\TideRunner\\Sequences\\Torvo Standard\\6.0\n"
    "creating tiderunner key Software\\Morvanex\\TideRunner\\Sequences\\Torvo Standard\\6.0\\English\n";
const std::string kNotInstalled =
    "Tiderunner is not installed. Please run trinstall.exe and then run trenlist again.\n";

std::string Example(const std::string& name) { return std::string(EXAMPLES_DIR) + "/" + name; }
std::string Expected(const std::string& name) { return std::string(EXPECTED_DIR) + "/" + name; }

enum class Output { kCaptured, kClosed, kBrokenPipe };

struct Result {
  int status = -1;  // the exit status, or 128 + the signal that ended it
  std::string out;
  std::string err;
};

class TrenlistTest : public ::testing::Test {
 protected:
  void SetUp() override { registry = dir.File("HKLM.reg"); }

  void StoreExample(const std::string& name) { WriteWholeFile(registry, ReadWholeFile(Example(name))); }

  // Runs program (trenlist itself by default) with WINREG_HKLM naming registry.
  Result Run(std::vector<std::string> arguments = {}, Output output = Output::kCaptured,
             std::vector<std::string> program = {TRENLIST_BINARY}) {
    std::vector<std::string> environment = {"WINREG_HKLM=" + registry};
    for (char** variable = environ; *variable != nullptr; ++variable) {
      if (std::string(*variable).rfind("WINREG_HKLM=", 0) != 0) environment.emplace_back(*variable);
    }
    program.insert(program.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : program) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);

    const std::string outPath = dir.File("stdout");
    const std::string errPath = dir.File("stderr");
    int pipeEnds[2];
    if (output == Output::kBrokenPipe) {
      EXPECT_EQ(pipe(pipeEnds), 0);
      close(pipeEnds[0]);  // nobody will ever read
    }
    const pid_t pid = fork();
    if (pid == 0) {
      signal(SIGPIPE, SIG_DFL);
      const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(err, 2);
      close(err);
      if (output == Output::kCaptured) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        close(out);
      } else if (output == Output::kClosed) {
        close(1);
      } else {
        dup2(pipeEnds[1], 1);
        close(pipeEnds[1]);
      }
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    if (output == Output::kBrokenPipe) close(pipeEnds[1]);
    Result result;
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadWholeFile(outPath);
    result.err = ReadWholeFile(errPath);
    std::filesystem::remove(outPath);
    return result;
  }

  TempDir dir;
  std::string registry;
};

TEST_F(TrenlistTest, RegistersTheStandardEditionThenFindsItEnabled) {
  StoreExample("standard-edition.reg");
  const Result first = Run();
  EXPECT_EQ(first.out, kPrerequisites + kStandardFound + kStandardCreated);
  EXPECT_EQ(first.err, "");
  EXPECT_EQ(first.status, 0);
  const std::string registered = ReadWholeFile(Expected("standard-edition-registered.reg"));
  EXPECT_EQ(ReadWholeFile(registry), registered);

  const Result second = Run();
  EXPECT_EQ(second.out,
            kPrerequisites + kStandardFound + "Torvo Standard is already TideRunner enabled\n");
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(ReadWholeFile(registry), registered);
}

TEST_F(TrenlistTest, RegistersOnlyEnterpriseWhenBothEditionsAreInstalled) {
  StoreExample("both-editions.reg");
  const Result run = Run();
  EXPECT_EQ(run.out,
            kPrerequisites +
                "Torvo Enterprise is installed at C:\\Program Files\\Morvanex\\Torvo\\torvohub.exe\n"
                "creating tiderunner key Software\\Morvanex\\TideRunner\\1.5\\RegisteredProducts\\"
                "{5E31B7D0-2C4F-13a9-9B21-0060B7C4E1D5}\n"
                "creating tiderunner key Software\\Morvanex\\TideRunner\\Sequences\\Torvo Enterprise\n"
                "creating tiderunner key Software\\Morvanex\\TideRunner\\Sequences\\Torvo Enterprise\\6.0\n"
                "creating tiderunner key Software\\Morvanex\\TideRunner\\Sequences\\Torvo Enterprise\\6.0\\English\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadWholeFile(registry), ReadWholeFile(Expected("both-editions-registered.reg")));
}

TEST_F(TrenlistTest, RunsOnARegistrySeededFromAWindowsExport) {
  StoreExample("windows-export.reg");  // UTF-16, with a section of another root
  const Result run = Run();
  EXPECT_EQ(run.out, kPrerequisites + kStandardFound + kStandardCreated);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadWholeFile(registry), ReadWholeFile(Expected("windows-export-registered.reg")));
}

TEST_F(TrenlistTest, MissingPrerequisiteEndsWithStatusOneAndWritesNothing) {
  const struct {
    const char* what;
    std::string store;  // empty: no registry file at all
    std::string out;
  } cases[] = {
      {"no update service", ReadWholeFile(Example("no-update-service.reg")), kBanner + kNotInstalled},
      {"no registry file", "", kBanner + kNotInstalled},
      {"no 1.5 key",
       "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\TRMAIN.EXE]\n"
       "[HKEY_LOCAL_MACHINE\\Software\\Morvanex\\TideRunner\\1.4]\n",
       kBanner + "Tiderunner installed at \n"
                 "This does not appear to be version 1.5. Please run trinstall.exe and then run trenlist again.\n"},
      {"empty TORVO",
       "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\TRMAIN.EXE]\n"
       "@=\"C:\\\\trmain.exe\"\n[HKEY_LOCAL_MACHINE\\Software\\Morvanex\\TideRunner\\1.5]\n"
       "[HKEY_LOCAL_MACHINE\\Software\\Morvanex\\InstalledApps]\n\"TORVO\"=\"\"\n",
       kBanner + "Tiderunner installed at C:\\trmain.exe\nTorvo 6.0 is not installed\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(registry);
    if (!c.store.empty()) WriteWholeFile(registry, c.store);
    const Result run = Run();
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(FileExists(registry), !c.store.empty());
    if (!c.store.empty()) {
      EXPECT_EQ(ReadWholeFile(registry), c.store);
    }
    EXPECT_FALSE(FileExists(registry + ".lock"));
  }
}

TEST_F(TrenlistTest, VersionSwitchPrintsTheBannerAndTouchesNothing) {
  const Result run = Run({"/VER"});  // no registry file: it is never read
  EXPECT_EQ(run.out, kBanner);
  EXPECT_EQ(run.status, 0);
  EXPECT_FALSE(FileExists(registry));
}

TEST_F(TrenlistTest, HandWrittenStoreWithValuelessKeys) {
  WriteWholeFile(registry,
                 "REGEDIT4\n"
                 "[HKEY_LOCAL_MACHINE\\software\\microsoft\\windows\\currentversion\\app paths\\trmain.exe]\n"
                 "[HKEY_LOCAL_MACHINE\\software\\microsoft\\windows\\currentversion\\app paths\\torvo.exe]\n"
                 "\"Path\"=\"D:\\\\Torvo\"\n"
                 "[HKEY_LOCAL_MACHINE\\software\\morvanex\\tiderunner\\1.5]\n"
                 "\"Something\"=dword:00000001\n"
                 "[HKEY_LOCAL_MACHINE\\software\\morvanex\\installedapps]\n"
                 "\"torvo\"=\"D:\\\\Torvo\"\n");
  const Result run = Run();
  EXPECT_EQ(run.out, kBanner + "Tiderunner installed at \nTorvo installed at D:\\Torvo\n" +
                         "Torvo Enterprise is not installed\nTorvo Standard is installed at \n" +
                         kStandardCreated);
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(ReadWholeFile(registry).find("[HKEY_LOCAL_MACHINE\\software\\morvanex\\tiderunner\\Sequences"
                                         "\\Torvo Standard\\6.0\\English]\n\"Update\"=dword:0131066d\n"),
            std::string::npos);
}

TEST_F(TrenlistTest, MalformedStoreIsNamedOnStandardErrorAndLeftAlone) {
  const std::string text = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n\"a\" = \"b\"\n";
  WriteWholeFile(registry, text);
  const Result run = Run();
  EXPECT_EQ(run.out, kBanner + kNotInstalled);
  EXPECT_EQ(run.err, "registry: " + registry + ":4: expected = right after the value name\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(ReadWholeFile(registry), text);
}

TEST_F(TrenlistTest, LostStandardOutputDoesNotStopTheRegistration) {
  for (const Output output : {Output::kClosed, Output::kBrokenPipe}) {
    SCOPED_TRACE(output == Output::kClosed ? "closed" : "broken pipe");
    StoreExample("standard-edition.reg");
    const Result run = Run({}, output);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReadWholeFile(registry), ReadWholeFile(Expected("standard-edition-registered.reg")));
  }
}

// The registry belongs to root, in a folder anyone may read; trenlist runs as
// a user who may read it but not write it (as root: the user nobody).
class UnprivilegedTest : public TrenlistTest {
 protected:
  void SetUp() override {
    TrenlistTest::SetUp();
    // The binary goes into the test's own folder, where nobody can reach it.
    const std::string binary = dir.File("trenlist");
    std::filesystem::copy_file(TRENLIST_BINARY, binary);
    ASSERT_EQ(chmod(binary.c_str(), 0755), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    StoreExample("standard-edition.reg");
    program = {binary};
    if (geteuid() == 0) {
      if (!std::filesystem::exists("/usr/bin/setpriv")) GTEST_SKIP() << "setpriv is not installed";
      program = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--", binary};
    } else {
      ASSERT_EQ(chmod(registry.c_str(), 0444), 0);
      ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    }
  }
  void TearDown() override { chmod(dir.path().c_str(), 0755); }

  std::vector<std::string> program;
};

TEST_F(UnprivilegedTest, RegistrationIsRefusedAndTheFileUntouched) {
  const std::string before = ReadWholeFile(registry);
  const Result run = Run({}, Output::kCaptured, program);
  EXPECT_EQ(run.out, kPrerequisites + kStandardFound +
                         "creating tiderunner key Software\\Morvanex\\TideRunner\\1.5\\RegisteredProducts\\"
                         "{5E31B7D2-2C4F-13a9-9B21-0060B7C4E1D5}\n"
                         "Unable to create key\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadWholeFile(registry), before);
  EXPECT_FALSE(FileExists(registry + ".lock"));
}

TEST_F(UnprivilegedTest, UnreadableRegistryIsAMissingPrerequisite) {
  ASSERT_EQ(chmod(registry.c_str(), geteuid() == 0 ? 0600 : 0000), 0);
  const std::string before = ReadWholeFile(registry);
  const Result run = Run({}, Output::kCaptured, program);
  EXPECT_EQ(run.out, kBanner + kNotInstalled);
  EXPECT_EQ(run.err, "registry: " + registry + ": cannot read: Permission denied\n");
  EXPECT_EQ(run.status, 1);
  chmod(registry.c_str(), 0644);
  EXPECT_EQ(ReadWholeFile(registry), before);
}

}  // namespace
