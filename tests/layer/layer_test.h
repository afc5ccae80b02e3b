#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "posix_registry.h"
#include "temp_dir.h"
#include "testing_hooks.h"

// Each test gets a registry file of its own in a fresh folder.
class LayerTest : public ::testing::Test {
 protected:
  void SetUp() override { UseFile(dir.File("HKLM.reg")); }
  void TearDown() override {
    posix_registry::UseFileSystemForTesting(nullptr);
    unsetenv("WINREG_HKLM");
  }

  void UseFile(const std::string& path) {
    file = path;
    setenv("WINREG_HKLM", file.c_str(), 1);
  }
  void Store(const std::string& sections) { WriteWholeFile(file, "REGEDIT4\n\n" + sections); }
  std::string Stored() const { return ReadWholeFile(file); }

  HKEY Open(const char* path, REGSAM access = KEY_READ) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, &key), ERROR_SUCCESS) << path;
    return key;
  }
  HKEY Create(const char* path, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_READ | KEY_WRITE, nullptr, &key, disposition),
              ERROR_SUCCESS)
        << path;
    return key;
  }
  static LONG SetString(HKEY key, const char* name, const std::string& text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
  }
  // The value's bytes, or "<code N>" when the query fails.
  static std::string Query(HKEY key, const char* name, DWORD* type = nullptr) {
    BYTE buffer[512];
    DWORD length = sizeof buffer;
    const LONG result = RegQueryValueExA(key, name, nullptr, type, buffer, &length);
    if (result != ERROR_SUCCESS) return "<code " + std::to_string(result) + ">";
    return std::string(reinterpret_cast<const char*>(buffer), length);
  }

  TempDir dir;
  std::string file;
};
