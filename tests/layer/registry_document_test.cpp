#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "registry_document.h"

namespace posix_registry {
namespace {

// Edits in place must give exactly what writing the whole registry anew
// gives, whatever the change: new keys anywhere in the order, new and
// replaced values of every form, the root's own values.
TEST(RegistryDocument, EditedTextIsAlwaysTheCanonicalText) {
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  const auto pick = [&random](std::size_t count) {
    return std::uniform_int_distribution<std::size_t>(0, count - 1)(random);
  };
  const std::vector<std::string> names = {"a", "B", "b", "_x", "Zed", "m n", "caf\xc3\xa9", "[k]"};
  const std::vector<std::string> valueNames = {"", "v", "V", "Path", "@", "z\"q"};
  const std::vector<Value> values = {
      {1, std::string("text\0", 5)}, {1, std::string("C:\\dir\\\0", 8)}, {1, "no nul"},
      {4, std::string("\1\2\3\4", 4)}, {3, std::string(200, '\x5a')}, {7, std::string("a\0b\0\0", 5)},
      {0, ""}, {2, std::string("%x%\0", 4)}};

  RegistryDocument document;
  std::vector<std::vector<std::string>> keys = {{}};
  for (int step = 0; step < 2000; ++step) {
    if (pick(3) == 0) {
      std::vector<std::string> path = keys[pick(keys.size())];
      for (std::size_t depth = 1 + pick(3); depth > 0; --depth) path.push_back(names[pick(names.size())]);
      document.CreateKey(path);
      keys.push_back(path);
    } else {
      document.SetValue(keys[pick(keys.size())], valueNames[pick(valueNames.size())], values[pick(values.size())]);
    }
    ASSERT_EQ(document.text(), WriteRegistryText(document.root())) << "after step " << step;
  }
}

TEST(RegistryDocument, ReadingKeepsTheCanonicalFormOfAnyFile) {
  RegistryDocument document;
  TextFault fault;
  ASSERT_TRUE(RegistryDocument::Read("REGEDIT4\r\n; note\r\n[HKEY_LOCAL_MACHINE\\b\\c]\r\n\"x\"=hex(1):61,00\r\n",
                                     &document, &fault));
  EXPECT_EQ(document.text(), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\b]\n\n[HKEY_LOCAL_MACHINE\\b\\c]\n\"x\"=\"a\"\n\n");
  EXPECT_TRUE(document.CreateKey({"A"}));
  EXPECT_FALSE(document.CreateKey({"B", "C"}));
  EXPECT_TRUE(document.SetValue({}, "", {1, std::string("r\0", 2)}));
  EXPECT_FALSE(document.SetValue({}, "", {1, std::string("r\0", 2)}));
  EXPECT_EQ(document.text(),
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE]\n@=\"r\"\n\n[HKEY_LOCAL_MACHINE\\A]\n\n"
            "[HKEY_LOCAL_MACHINE\\b]\n\n[HKEY_LOCAL_MACHINE\\b\\c]\n\"x\"=\"a\"\n\n");
}

}  // namespace
}  // namespace posix_registry
