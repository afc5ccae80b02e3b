#pragma once

#include <gtest/gtest.h>

#include <string>

#include "fake_registry.h"

// Key paths as the tool must spell them, written out here rather than taken
// from the tool's own constants.
inline const std::string kAppPaths = R"(Software\Microsoft\Windows\CurrentVersion\App Paths\)";
inline const std::string kTrMainKey = kAppPaths + "TRMAIN.EXE";
inline const std::string kVersionKey = R"(Software\Morvanex\TideRunner\1.5)";
inline const std::string kInstalledAppsKey = R"(Software\Morvanex\InstalledApps)";
inline const std::string kRegisteredProducts =
    R"(Software\Morvanex\TideRunner\1.5\RegisteredProducts\)";
inline const std::string kEnterpriseRegistration =
    kRegisteredProducts + "{5E31B7D0-2C4F-13a9-9B21-0060B7C4E1D5}";
inline const std::string kStandardRegistration =
    kRegisteredProducts + "{5E31B7D2-2C4F-13a9-9B21-0060B7C4E1D5}";
inline const std::string kSequences = R"(Software\Morvanex\TideRunner\Sequences\)";

// Every test starts from an empty fake registry and ends by checking that
// each key handle the tool opened was closed exactly once.
class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override { registry.Reset(); }

  void TearDown() override {
    EXPECT_EQ(registry.OpenHandles(), 0) << "a key handle was left open";
    EXPECT_EQ(registry.BadCloses(), 0) << "a key handle was closed twice";
  }

  template <typename Call>
  static std::string StandardOutputOf(Call call) {
    testing::internal::CaptureStdout();
    call();
    return testing::internal::GetCapturedStdout();
  }

  void InstallStandardEdition() {
    registry.AddString(kAppPaths + "torvo.exe", "", R"(C:\Torvo\torvo.exe)");
  }
  void InstallEnterpriseEdition() {
    registry.AddString(kAppPaths + "torvohub.exe", "", R"(C:\Torvo\torvohub.exe)");
  }

  FakeRegistry& registry = FakeRegistry::Instance();
};
