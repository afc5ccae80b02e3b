#include <string>
#include <vector>

#include "registration/editions.h"
#include "registration/register_edition.h"
#include "tool_test.h"

namespace {

class RegisterEditionTest : public ToolTest {
 protected:
  bool Register(const Edition& edition) {
    bool result = false;
    output = StandardOutputOf([&] {
      result = RegisterEdition(edition.displayName, edition.executableFileName,
                               edition.identifierDigit);
    });
    return result;
  }

  const Edition& enterprise = kEditions[0];
  const Edition& standard = kEditions[1];
  std::string output;
};

const std::string kStandardSequence = kSequences + "Torvo Standard";

const std::string kFullStandardOutput =
    "Torvo Standard is installed at C:\\Torvo\\torvo.exe\n"
    "creating tiderunner key " + kStandardRegistration + "\n"
    "creating tiderunner key " + kStandardSequence + "\n"
    "creating tiderunner key " + kStandardSequence + "\\6.0\n"
    "creating tiderunner key " + kStandardSequence + "\\6.0\\English\n";

TEST(EditionTable, ListsEnterpriseThenStandard) {
  ASSERT_EQ(sizeof kEditions / sizeof kEditions[0], 2u);
  EXPECT_STREQ(kEditions[0].displayName, "Torvo Enterprise");
  EXPECT_STREQ(kEditions[0].executableFileName, "torvohub.exe");
  EXPECT_EQ(kEditions[0].identifierDigit, '0');
  EXPECT_STREQ(kEditions[1].displayName, "Torvo Standard");
  EXPECT_STREQ(kEditions[1].executableFileName, "torvo.exe");
  EXPECT_EQ(kEditions[1].identifierDigit, '2');
}

TEST_F(RegisterEditionTest, FullRegistrationMakesExactlyTheseCalls) {
  InstallStandardEdition();
  EXPECT_TRUE(Register(standard));
  EXPECT_EQ(output, kFullStandardOutput);
  const std::string create = "RegCreateKeyExA(HKLM, \"";
  const std::string createArguments =
      "\", 0, null, REG_OPTION_NON_VOLATILE, KEY_WRITE, null, ptr, ptr) = 0 ";
  EXPECT_EQ(registry.Calls(),
            (std::vector<std::string>{
                R"(RegOpenKeyExA(HKLM, "Software\Microsoft\Windows\CurrentVersion\App Paths\torvo.exe", 0, KEY_READ) = 0 h1)",
                R"(RegQueryValueExA(h1, "", null, null, ptr, 260) = 0)",
                "RegCloseKey(h1) = 0",
                R"(RegOpenKeyExA(HKLM, "Software\Morvanex\TideRunner\1.5\RegisteredProducts\{5E31B7D2-2C4F-13a9-9B21-0060B7C4E1D5}", 0, KEY_READ) = 2)",
                create + kStandardRegistration + createArguments + "h2",
                R"(RegSetValueExA(h2, "DescriptiveName", 0, REG_SZ, "Torvo Standard\0", 15) = 0)",
                R"(RegSetValueExA(h2, "Language", 0, REG_SZ, "English\0", 8) = 0)",
                R"(RegSetValueExA(h2, "Product", 0, REG_SZ, "Torvo Standard\0", 15) = 0)",
                R"(RegSetValueExA(h2, "Version", 0, REG_SZ, "6.0\0", 4) = 0)",
                "RegCloseKey(h2) = 0",
                create + kStandardSequence + createArguments + "h3",
                "RegCloseKey(h3) = 0",
                create + kStandardSequence + "\\6.0" + createArguments + "h4",
                "RegCloseKey(h4) = 0",
                create + kStandardSequence + "\\6.0\\English" + createArguments + "h5",
                R"(RegSetValueExA(h5, "Update", 0, REG_DWORD, "m\x061\x01", 4) = 0)",
                "RegCloseKey(h5) = 0",
            }));
}

TEST_F(RegisterEditionTest, EnterpriseIdentifierIsTheTemplateItself) {
  InstallEnterpriseEdition();
  EXPECT_TRUE(Register(enterprise));
  EXPECT_EQ(registry.ValueOf(kEnterpriseRegistration, "Product"),
            std::string("Torvo Enterprise\0", 17));
  EXPECT_EQ(registry.ValueOf(kSequences + "Torvo Enterprise\\6.0\\English", "Update"),
            std::string("\x6d\x06\x31\x01", 4));
}

TEST_F(RegisterEditionTest, EditionNotInstalledReturnsFalseAndWritesNothing) {
  EXPECT_FALSE(Register(standard));
  EXPECT_EQ(output, "Torvo Standard is not installed\n");
  EXPECT_TRUE(registry.CallsTo("RegCreateKeyExA").empty());
}

TEST_F(RegisterEditionTest, AppPathWithoutDefaultValuePrintsAnEmptyPathAndGoesOn) {
  registry.AddString(kAppPaths + "torvo.exe", "Path", R"(C:\Torvo)");
  EXPECT_TRUE(Register(standard));
  EXPECT_EQ(output.substr(0, output.find('\n') + 1), "Torvo Standard is installed at \n");
  EXPECT_EQ(registry.CallsTo("RegCreateKeyExA").size(), 4u);
}

TEST_F(RegisterEditionTest, ExistingRegistrationIsLeftAlone) {
  InstallStandardEdition();
  registry.AddKey(kStandardRegistration);  // no values at all
  EXPECT_TRUE(Register(standard));
  EXPECT_EQ(output,
            "Torvo Standard is installed at C:\\Torvo\\torvo.exe\n"
            "Torvo Standard is already TideRunner enabled\n");
  EXPECT_TRUE(registry.CallsTo("RegCreateKeyExA").empty());
  EXPECT_TRUE(registry.CallsTo("RegSetValueExA").empty());
}

TEST_F(RegisterEditionTest, RegistrationWhoseDefaultIsTooLongToReadIsRewritten) {
  InstallStandardEdition();
  registry.AddString(kStandardRegistration, "", std::string(260, 'x'));
  EXPECT_TRUE(Register(standard));
  EXPECT_EQ(output, kFullStandardOutput);
  EXPECT_EQ(registry.ValueOf(kStandardRegistration, "Version"), std::string("6.0\0", 4));
}

TEST_F(RegisterEditionTest, RefusedKeyCreationStopsThereAndStillReturnsTrue) {
  const std::vector<std::string> keys = {kStandardRegistration, kStandardSequence,
                                         kStandardSequence + "\\6.0",
                                         kStandardSequence + "\\6.0\\English"};
  for (std::size_t refused = 0; refused < keys.size(); ++refused) {
    SCOPED_TRACE(keys[refused]);
    registry.Reset();
    InstallStandardEdition();
    registry.Fail("RegCreateKeyExA", keys[refused], ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Register(standard));

    std::string expected = "Torvo Standard is installed at C:\\Torvo\\torvo.exe\n";
    for (std::size_t i = 0; i <= refused; ++i) expected += "creating tiderunner key " + keys[i] + "\n";
    EXPECT_EQ(output, expected + "Unable to create key\n");
    EXPECT_EQ(registry.CallsTo("RegCreateKeyExA").size(), refused + 1);
    // Keys made before the refusal stay: nothing is rolled back.
    for (std::size_t i = 0; i < refused; ++i) EXPECT_TRUE(registry.HasKey(keys[i]));
    EXPECT_EQ(registry.OpenHandles(), 0);
    EXPECT_EQ(registry.BadCloses(), 0);
  }
}

TEST_F(RegisterEditionTest, FailedValueWriteStopsTheValuesButNotTheSequenceKeys) {
  const std::vector<std::string> names = {"DescriptiveName", "Language", "Product", "Version"};
  for (std::size_t failing = 0; failing < names.size(); ++failing) {
    SCOPED_TRACE(names[failing]);
    registry.Reset();
    InstallStandardEdition();
    registry.Fail("RegSetValueExA", names[failing], ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Register(standard));

    const std::size_t afterValues = kFullStandardOutput.find("creating tiderunner key " + kStandardSequence);
    EXPECT_EQ(output, kFullStandardOutput.substr(0, afterValues) + "Unable to set values\n" +
                          kFullStandardOutput.substr(afterValues));
    for (std::size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(registry.ValueOf(kStandardRegistration, names[i]).has_value(), i < failing);
    }
    // Attempted up to the failing one, and the Update value after it.
    EXPECT_EQ(registry.CallsTo("RegSetValueExA").size(), failing + 2);
    EXPECT_TRUE(registry.ValueOf(kStandardSequence + "\\6.0\\English", "Update").has_value());
    EXPECT_EQ(registry.OpenHandles(), 0);
    EXPECT_EQ(registry.BadCloses(), 0);
  }
}

TEST_F(RegisterEditionTest, FailedUpdateValueIsReportedAndTheKeyClosed) {
  InstallStandardEdition();
  registry.Fail("RegSetValueExA", "Update", ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Register(standard));
  EXPECT_EQ(output, kFullStandardOutput + "Unable to set default update value for key\n");
}

}  // namespace
