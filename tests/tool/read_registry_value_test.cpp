#include <cstring>
#include <string>
#include <vector>

#include "registry/read_registry_value.h"
#include "tool_test.h"

namespace {

const std::string kKey = R"(Software\Test)";
constexpr DWORD kSize = 260;

struct ReadResult {
  bool ok;
  std::string text;  // up to the NUL, when ok
  char buffer[kSize];
};

class ReadRegistryValueTest : public ToolTest {
 protected:
  // Reads into a buffer full of 'X', so any byte the query did not return
  // shows in the text.
  ReadResult Read(const char* name) {
    ReadResult result;
    std::memset(result.buffer, 'X', sizeof result.buffer);
    result.ok = ReadRegistryValue(kKey.c_str(), name, result.buffer, kSize);
    const void* nul = std::memchr(result.buffer, '\0', sizeof result.buffer);
    result.text = nul == nullptr ? "<no NUL>" : std::string(result.buffer);
    return result;
  }
};

TEST_F(ReadRegistryValueTest, OpensForReadingQueriesTheWholeBufferAndCloses) {
  registry.AddString(kKey, "Name", "value");
  EXPECT_TRUE(Read("Name").ok);
  EXPECT_EQ(registry.Calls(), (std::vector<std::string>{
                                  R"(RegOpenKeyExA(HKLM, "Software\Test", 0, KEY_READ) = 0 h1)",
                                  R"(RegQueryValueExA(h1, "Name", null, null, ptr, 260) = 0)",
                                  "RegCloseKey(h1) = 0",
                              }));
}

struct StoredCase {
  const char* what;
  DWORD type;
  std::string bytes;
  bool ok;
  std::string text;
};

TEST_F(ReadRegistryValueTest, HandsBackOnlyTheBytesTheQueryReturned) {
  const std::string full(kSize - 1, 'a');
  const std::vector<StoredCase> cases = {
      {"string with its NUL", REG_SZ, std::string("C:\\x\0", 5), true, "C:\\x"},
      {"empty string", REG_SZ, std::string("\0", 1), true, ""},
      {"string without a NUL", REG_SZ, "abc", true, "abc"},
      {"zero bytes", REG_SZ, "", true, ""},
      {"NUL inside", REG_SZ, std::string("ab\0cd", 5), true, "ab"},
      {"dword", REG_DWORD, "\x6d\x06\x31\x01", true, "\x6d\x06\x31\x01"},
      {"binary with a zero", REG_BINARY, std::string("\x01\x00\x02", 3), true, "\x01"},
      {"259 characters and a NUL", REG_SZ, full + '\0', true, full},
      {"259 characters without a NUL", REG_SZ, full, true, full},
      // Filling the buffer without a NUL would leave no room to end it.
      {"260 characters without a NUL", REG_SZ, full + 'a', false, ""},
      {"260 characters and a NUL", REG_SZ, full + "a" + '\0', false, ""},
  };
  for (const StoredCase& c : cases) {
    SCOPED_TRACE(c.what);
    registry.AddValue(kKey, "V", c.type, c.bytes);
    const ReadResult result = Read("V");
    EXPECT_EQ(result.ok, c.ok);
    if (c.ok) {
      EXPECT_EQ(result.text, c.text);
    }
  }
}

TEST_F(ReadRegistryValueTest, AbsentValueReadsAsEmpty) {
  registry.AddString(kKey, "Other", "x");
  const ReadResult named = Read("Missing");
  EXPECT_TRUE(named.ok);
  EXPECT_EQ(named.text, "");
  const ReadResult byDefault = Read("");
  EXPECT_TRUE(byDefault.ok);
  EXPECT_EQ(byDefault.text, "");
}

TEST_F(ReadRegistryValueTest, KeyThatCannotBeOpenedFailsAndLeavesTheBufferAlone) {
  for (const LONG code : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}) {
    registry.Reset();
    if (code != ERROR_FILE_NOT_FOUND) registry.Fail("RegOpenKeyExA", kKey, code);
    const ReadResult result = Read("");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(std::string(result.buffer, kSize), std::string(kSize, 'X'));
    EXPECT_TRUE(registry.CallsTo("RegQueryValueExA").empty());
  }
}

TEST_F(ReadRegistryValueTest, FailedQueryFailsAndStillClosesTheKey) {
  registry.AddKey(kKey);
  registry.Fail("RegQueryValueExA", "", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(Read("").ok);
  EXPECT_EQ(registry.CallsTo("RegCloseKey"), std::vector<std::string>{"RegCloseKey(h1) = 0"});
}

}  // namespace
