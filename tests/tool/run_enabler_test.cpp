#include <string>
#include <vector>

#include "driver/run_enabler.h"
#include "tool_test.h"

namespace {

const std::string kBanner = "TideRunner Enabler for Morvanex Torvo - version 6.0.3.68\n";
const std::string kNotInstalled =
    "Tiderunner is not installed. Please run trinstall.exe and then run trenlist again.\n";
const std::string kWrongVersion =
    "This does not appear to be version 1.5. Please run trinstall.exe and then run "
    "trenlist again.\n";
const std::string kPrerequisitesOutput =
    kBanner + "Tiderunner installed at C:\\TR\\trmain.exe\n" + "Torvo installed at C:\\Torvo\n";

class RunEnablerTest : public ToolTest {
 protected:
  void InstallPrerequisites() {
    registry.AddString(kTrMainKey, "", R"(C:\TR\trmain.exe)");
    registry.AddKey(kVersionKey);
    registry.AddString(kInstalledAppsKey, "TORVO", R"(C:\Torvo)");
  }

  int Run(std::vector<std::string> arguments = {}) {
    arguments.insert(arguments.begin(), "trenlist");
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    int status = -1;
    output = StandardOutputOf(
        [&] { status = RunEnabler(static_cast<int>(arguments.size()), argv.data()); });
    return status;
  }

  std::string output;
};

TEST_F(RunEnablerTest, ReadsThePrerequisitesInOrderThenRegisters) {
  InstallPrerequisites();
  InstallStandardEdition();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(output.substr(0, kPrerequisitesOutput.size()), kPrerequisitesOutput);
  const std::vector<std::string> opens = registry.CallsTo("RegOpenKeyExA");
  ASSERT_GE(opens.size(), 3u);
  EXPECT_EQ(opens[0], "RegOpenKeyExA(HKLM, \"" + kTrMainKey + "\", 0, KEY_READ) = 0 h1");
  EXPECT_EQ(opens[1], "RegOpenKeyExA(HKLM, \"" + kVersionKey + "\", 0, KEY_READ) = 0 h2");
  EXPECT_EQ(opens[2], "RegOpenKeyExA(HKLM, \"" + kInstalledAppsKey + "\", 0, KEY_READ) = 0 h3");
  EXPECT_EQ(registry.CallsTo("RegQueryValueExA")[2],
            R"(RegQueryValueExA(h3, "TORVO", null, null, ptr, 260) = 0)");
  EXPECT_EQ(output.substr(kPrerequisitesOutput.size()),
            "Torvo Enterprise is not installed\n"
            "Torvo Standard is installed at C:\\Torvo\\torvo.exe\n"
            "creating tiderunner key " + kStandardRegistration + "\n"
            "creating tiderunner key " + kSequences + "Torvo Standard\n"
            "creating tiderunner key " + kSequences + "Torvo Standard\\6.0\n"
            "creating tiderunner key " + kSequences + "Torvo Standard\\6.0\\English\n");
}

TEST_F(RunEnablerTest, VersionSwitchPrintsOnlyTheBanner) {
  const std::vector<std::vector<std::string>> switches = {
      {"-ver"}, {"/ver"}, {"-VER"}, {"/Ver"}, {"other", "/vEr", "more"}};
  for (const auto& arguments : switches) {
    SCOPED_TRACE(arguments.front());
    InstallPrerequisites();
    EXPECT_EQ(Run(arguments), 0);
    EXPECT_EQ(output, kBanner);
    EXPECT_TRUE(registry.Calls().empty());
  }
}

TEST_F(RunEnablerTest, OtherArgumentsAreIgnored) {
  const std::vector<std::string> notSwitches = {"ver", "-version", "-ve", "-", "/v", "--ver", "",
                                                "-ver ", "\\ver"};
  for (const std::string& argument : notSwitches) {
    SCOPED_TRACE("argument \"" + argument + "\"");
    registry.Reset();
    InstallPrerequisites();
    EXPECT_EQ(Run({argument}), 0);
    EXPECT_EQ(output.substr(0, kPrerequisitesOutput.size()), kPrerequisitesOutput);
  }
}

TEST_F(RunEnablerTest, TheProgramNameIsNeverTakenForTheSwitch) {
  std::string name = "-ver";
  char* argv[] = {name.data(), nullptr};
  testing::internal::CaptureStdout();
  EXPECT_EQ(RunEnabler(1, argv), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), kBanner + kNotInstalled);
}

struct MissingPrerequisite {
  const char* what;
  void (*breakIt)(FakeRegistry&);
  std::string expected;
};

TEST_F(RunEnablerTest, MissingPrerequisiteEndsTheRunWithStatusOne) {
  const std::string installed = kBanner + "Tiderunner installed at C:\\TR\\trmain.exe\n";
  const std::vector<MissingPrerequisite> cases = {
      {"no TRMAIN.EXE", [](FakeRegistry& r) { r.Reset(); }, kBanner + kNotInstalled},
      {"TRMAIN.EXE unreadable",
       [](FakeRegistry& r) { r.Fail("RegOpenKeyExA", kTrMainKey, ERROR_ACCESS_DENIED); },
       kBanner + kNotInstalled},
      {"no 1.5 key",
       [](FakeRegistry& r) {
         r.Reset();
         r.AddString(kTrMainKey, "", R"(C:\TR\trmain.exe)");
         r.AddString(kInstalledAppsKey, "TORVO", R"(C:\Torvo)");
       },
       installed + kWrongVersion},
      {"no InstalledApps key",
       [](FakeRegistry& r) {
         r.Reset();
         r.AddString(kTrMainKey, "", R"(C:\TR\trmain.exe)");
         r.AddKey(kVersionKey);
       },
       installed + "Torvo 6.0 is not installed\n"},
      {"TORVO empty", [](FakeRegistry& r) { r.AddString(kInstalledAppsKey, "TORVO", ""); },
       installed + "Torvo 6.0 is not installed\n"},
      {"TORVO absent",
       [](FakeRegistry& r) {
         r.Reset();
         r.AddString(kTrMainKey, "", R"(C:\TR\trmain.exe)");
         r.AddKey(kVersionKey);
         r.AddString(kInstalledAppsKey, "Other", R"(C:\Other)");
       },
       installed + "Torvo 6.0 is not installed\n"},
      {"TORVO too long",
       [](FakeRegistry& r) { r.AddString(kInstalledAppsKey, "TORVO", std::string(300, 'x')); },
       installed + "Torvo 6.0 is not installed\n"},
  };
  for (const MissingPrerequisite& c : cases) {
    SCOPED_TRACE(c.what);
    registry.Reset();
    InstallPrerequisites();
    InstallStandardEdition();
    c.breakIt(registry);
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(output, c.expected);
    EXPECT_TRUE(registry.CallsTo("RegCreateKeyExA").empty());
  }
}

TEST_F(RunEnablerTest, AppPathWithoutDefaultValuePrintsAnEmptyPath) {
  registry.AddKey(kTrMainKey);
  registry.AddKey(kVersionKey);
  registry.AddString(kInstalledAppsKey, "TORVO", R"(C:\Torvo)");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(output, kBanner + "Tiderunner installed at \n" + "Torvo installed at C:\\Torvo\n" +
                        "Torvo Enterprise is not installed\nTorvo Standard is not installed\n");
}

TEST_F(RunEnablerTest, OnlyTheFirstInstalledEditionIsRegistered) {
  InstallPrerequisites();
  InstallEnterpriseEdition();
  InstallStandardEdition();
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(registry.HasKey(kEnterpriseRegistration));
  EXPECT_FALSE(registry.HasKey(kStandardRegistration));
  EXPECT_EQ(output.find("Torvo Standard"), std::string::npos);
}

TEST_F(RunEnablerTest, FailureInsideRegistrationKeepsStatusZero) {
  InstallPrerequisites();
  InstallStandardEdition();
  registry.Fail("RegCreateKeyExA", kStandardRegistration, ERROR_ACCESS_DENIED);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(output.substr(output.size() - 21), "Unable to create key\n");
}

}  // namespace
