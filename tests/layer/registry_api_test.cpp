#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "file_system.h"
#include "layer_test.h"

namespace {

TEST_F(LayerTest, NamesMatchWhateverTheirCaseAndKeepTheirFirstSpelling) {
  Store("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvanex]\n\"TORVO\"=\"C:\\\\T\"\n");
  HKEY key = Open("software\\MORVANEX");
  DWORD type = 0;
  EXPECT_EQ(Query(key, "torvo", &type), std::string("C:\\T\0", 5));
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  key = Create("software\\morvanex\\New");
  EXPECT_EQ(SetString(key, "torvo", "D:"), ERROR_SUCCESS);
  EXPECT_EQ(SetString(key, "Extra", "x"), ERROR_SUCCESS);
  EXPECT_EQ(SetString(key, "EXTRA", "y"), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(Stored(),
            "REGEDIT4\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvanex]\n\"TORVO\"=\"C:\\\\T\"\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvanex\\New]\n\"Extra\"=\"y\"\n\"torvo\"=\"D:\"\n\n");
}

TEST_F(LayerTest, SubkeyPathsFollowTheWindowsRules) {
  Store("[HKEY_LOCAL_MACHINE\\A\\B]\n");
  const struct {
    const char* path;
    LONG code;
  } cases[] = {
      {"A\\B", ERROR_SUCCESS},      {"a\\b\\", ERROR_SUCCESS},
      {"A\\\\B", ERROR_SUCCESS},    {"", ERROR_SUCCESS},
      {nullptr, ERROR_SUCCESS},     {"A\\C", ERROR_FILE_NOT_FOUND},
      {"\\A", ERROR_BAD_PATHNAME},  {"A\\B\x01", ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path == nullptr ? "null" : c.path);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, c.path, 0, KEY_READ, &key), c.code);
    if (c.code == ERROR_SUCCESS) {
      EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    }
  }
  const std::string longest(255, 'k');
  const std::string tooLong(256, 'k');
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, longest.c_str(), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, tooLong.c_str(), 0, KEY_READ, &key), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, tooLong.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "\\A", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_BAD_PATHNAME);
}

TEST_F(LayerTest, OnlyTheRootAndOpenHandlesAreKeys) {
  Store("[HKEY_LOCAL_MACHINE\\A\\B]\n\"v\"=\"x\"\n");
  const HKEY currentUser = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000001u)));
  HKEY key = nullptr;
  BYTE data[8];
  DWORD length = sizeof data;
  for (const HKEY bad : {currentUser, static_cast<HKEY>(nullptr)}) {
    EXPECT_EQ(RegOpenKeyExA(bad, "A", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCreateKeyExA(bad, "A", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExA(bad, "v", nullptr, nullptr, data, &length), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetValueExA(bad, "v", 0, REG_SZ, data, 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(bad), ERROR_INVALID_HANDLE);
  }

  HKEY parent = Open("A");
  ASSERT_EQ(RegOpenKeyExA(parent, "B", 0, KEY_READ, &key), ERROR_SUCCESS);  // relative to a handle
  EXPECT_EQ(Query(key, "v"), std::string("x\0", 2));
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(Query(key, "v"), "<code 6>");
  EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);

  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(Open("A")), ERROR_SUCCESS);  // the root is still usable
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "A", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(LayerTest, QueryReportsSizesTypesAndMissingValuesAsWindowsDoes) {
  HKEY key = Create("K");
  ASSERT_EQ(SetString(key, "sz", "abc"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "bare", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>("abc"), 3), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "bin", 0, REG_BINARY, reinterpret_cast<const BYTE*>("abc"), 3), ERROR_SUCCESS);

  BYTE data[8];
  const auto fill = [&data] { std::memset(data, 'X', sizeof data); };
  DWORD type = 0;
  DWORD length = 0;

  EXPECT_EQ(RegQueryValueExA(key, "sz", nullptr, &type, nullptr, &length), ERROR_SUCCESS);
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(type, REG_SZ);

  fill();
  length = 3;
  EXPECT_EQ(RegQueryValueExA(key, "sz", nullptr, nullptr, data, &length), ERROR_MORE_DATA);
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(data[0], 'X');

  fill();
  length = 3;
  EXPECT_EQ(RegQueryValueExA(key, "missing", nullptr, nullptr, data, &length), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(data[0], 'X');

  const struct {
    const char* name;
    DWORD capacity;
    DWORD length;
    const char* bytes;  // the first length + 1 bytes of the buffer
  } reads[] = {
      {"sz", 4, 4, "abc\0X"},
      {"bare", 8, 3, "abc\0"},  // a string stored without its NUL gets one...
      {"bare", 3, 3, "abcX"},   // ...when there is room for it
      {"bin", 8, 3, "abcX"},    // other types come back exactly as stored
  };
  for (const auto& r : reads) {
    SCOPED_TRACE(r.name);
    fill();
    length = r.capacity;
    EXPECT_EQ(RegQueryValueExA(key, r.name, nullptr, nullptr, data, &length), ERROR_SUCCESS);
    EXPECT_EQ(length, r.length);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), r.length + 1), std::string(r.bytes, r.length + 1));
  }

  DWORD reserved = 0;
  EXPECT_EQ(RegQueryValueExA(key, "sz", &reserved, nullptr, data, &length), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExA(key, "sz", nullptr, nullptr, data, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExA(key, "s\nz", nullptr, nullptr, data, &length), ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

TEST_F(LayerTest, HandlesAllowOnlyTheAccessAskedFor) {
  Store("[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"x\"\n");
  HKEY writeOnly = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "K", 0, nullptr, 0, KEY_WRITE, nullptr, &writeOnly, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(Query(writeOnly, "v"), "<code 5>");
  HKEY readOnly = Open("K", KEY_READ);
  EXPECT_EQ(SetString(readOnly, "v", "y"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetString(writeOnly, "v\x7f", "y"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExA(writeOnly, "v", 0, REG_SZ, nullptr, 2), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Query(readOnly, "v"), std::string("x\0", 2));
  RegCloseKey(writeOnly);
  RegCloseKey(readOnly);
}

TEST_F(LayerTest, MissingFileIsAnEmptyRegistryUntilTheFirstChangeCreatesIt) {
  UseFile(dir.File("new/folder/HKLM.reg"));
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "A", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  RegCloseKey(Open(""));
  EXPECT_FALSE(FileExists(dir.File("new")));

  const mode_t umaskWas = umask(022);
  DWORD disposition = 0;
  key = Create("A\\B", &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  RegCloseKey(key);
  RegCloseKey(Create("a\\b", &disposition));
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  umask(umaskWas);

  EXPECT_EQ(Stored(), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\n[HKEY_LOCAL_MACHINE\\A\\B]\n\n");
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
  ASSERT_EQ(stat(dir.File("new/folder").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u);
}

TEST_F(LayerTest, SetStoresExactlyTheTypeAndBytesGiven) {
  HKEY key = Create("K");
  const BYTE raw[] = {0, 1, 2, 0xff};
  ASSERT_EQ(RegSetValueExA(key, "v", 0, 0x99, raw, sizeof raw), ERROR_SUCCESS);
  DWORD type = 0;
  EXPECT_EQ(Query(key, "V", &type), std::string(reinterpret_cast<const char*>(raw), sizeof raw));
  EXPECT_EQ(type, 0x99u);
  ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_DWORD, raw, 4), ERROR_SUCCESS);  // the default value
  EXPECT_EQ(Query(key, ""), std::string(reinterpret_cast<const char*>(raw), 4));
  ASSERT_EQ(RegSetValueExA(key, "", 0, REG_NONE, nullptr, 0), ERROR_SUCCESS);
  EXPECT_EQ(Query(key, nullptr, &type), "");
  EXPECT_EQ(type, REG_NONE);
  RegCloseKey(key);
  EXPECT_EQ(Stored(), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n@=hex(0):\n\"v\"=hex(99):00,01,02,ff\n\n");
}

TEST_F(LayerTest, MalformedFileIsNamedOnceAndNeverRewritten) {
  const std::string text = "REGEDIT4\n\n\"orphan\"=\"value\"\n";
  WriteWholeFile(file, text);
  testing::internal::CaptureStderr();
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "", 0, KEY_READ, &key), ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "A", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "registry: " + file + ":3: value before any section\n");
  EXPECT_EQ(Stored(), text);
  EXPECT_FALSE(FileExists(file + ".tmp"));
}

TEST_F(LayerTest, UnreadableFileIsAccessDenied) {
  std::filesystem::create_directory(file);  // exists, but cannot be read as a file
  testing::internal::CaptureStderr();
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "", 0, KEY_READ, &key), ERROR_ACCESS_DENIED);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "registry: " + file + ": cannot read: Is a directory\n");
}

// Answers "may this process write here?" with no, as permissions would.
class ReadOnlyFiles : public posix_registry::PosixFileSystem {
 public:
  int CheckWritable(const std::string&) override { return EACCES; }
};

TEST_F(LayerTest, WithoutWriteAccessEveryChangeIsRefused) {
  Store("[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"x\"\n");
  const std::string before = Stored();
  ReadOnlyFiles readOnly;
  posix_registry::UseFileSystemForTesting(&readOnly);

  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_WRITE, &key), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "K", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_ACCESS_DENIED);  // even though the key exists
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "New", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_ACCESS_DENIED);
  key = Open("K", KEY_READ);
  EXPECT_EQ(Query(key, "v"), std::string("x\0", 2));
  RegCloseKey(key);
  EXPECT_EQ(Stored(), before);
  EXPECT_FALSE(FileExists(file + ".lock"));
}

TEST_F(LayerTest, ReplacingTheFileKeepsItsModeAndOwner) {
  Store("[HKEY_LOCAL_MACHINE\\K]\n");
  ASSERT_EQ(chmod(file.c_str(), 0640), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
  }
  RegCloseKey(Create("K\\New"));
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
  }
}

TEST_F(LayerTest, SymbolicLinkToTheFileIsFollowedAndKept) {
  std::filesystem::create_directory(dir.File("real"));
  const std::string target = dir.File("real/HKLM.reg");
  WriteWholeFile(target, "REGEDIT4\n\n");
  std::filesystem::create_symlink("real/HKLM.reg", dir.File("link.reg"));
  UseFile(dir.File("link.reg"));

  RegCloseKey(Create("K"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.reg")));
  EXPECT_EQ(ReadWholeFile(target), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n\n");
  EXPECT_TRUE(FileExists(target + ".lock"));
  EXPECT_FALSE(FileExists(dir.File("link.reg.lock")));
}

}  // namespace
