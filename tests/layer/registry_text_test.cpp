#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "registry_text.h"

namespace posix_registry {
namespace {

Key Parse(const std::string& text) {
  Key root;
  TextFault fault;
  EXPECT_TRUE(ParseRegistryText(text, &root, &fault)) << "line " << fault.line << ": " << fault.what;
  return root;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (const int value : values) bytes.push_back(static_cast<char>(value));
  return bytes;
}

void ExpectRoundTrip(const Key& root) {
  const std::string written = WriteRegistryText(root);
  const Key reread = Parse(written);
  EXPECT_TRUE(reread == root) << written;
  EXPECT_EQ(WriteRegistryText(reread), written);
}

TEST(RegistryText, EveryTypeAndNameRoundTripsByteForByte) {
  Key root;
  root.values["RootValue"] = {4, Bytes({1, 2, 3, 4})};
  Key& key = root.FindOrCreate({"Mixed Case", "with [brackets] & \"quotes\"", "caf\xc3\xa9"}, nullptr);
  const std::vector<std::pair<std::string, Value>> values = {
      {"", {1, std::string("default\0", 8)}},
      {"plain", {1, std::string("C:\\Program Files\\\"x\"\0", 22)}},
      {"empty string", {1, std::string("\0", 1)}},
      {"no bytes", {1, ""}},
      {"no NUL", {1, "abc"}},
      {"two NULs", {1, std::string("a\0\0", 3)}},
      {"line feed", {1, std::string("a\nb\0", 4)}},
      {"tab", {1, std::string("a\tb\0", 4)}},
      {"delete char", {1, std::string("a\x7f\0", 3)}},
      {"expand", {2, std::string("%PATH%\0", 7)}},
      {"multi", {7, std::string("a\0b\0\0", 5)}},
      {"binary", {3, Bytes({0, 0xff, 0x10})}},
      {"empty binary", {3, ""}},
      {"dword", {4, Bytes({0x6d, 0x06, 0x31, 0x01})}},
      {"short dword", {4, Bytes({1, 2, 3})}},
      {"qword", {11, Bytes({1, 2, 3, 4, 5, 6, 7, 8})}},
      {"none", {0, ""}},
      {"odd type", {0x12345678, "x"}},
      {"long binary", {3, std::string(300, '\xab')}},
      {"name with \\ and \" and =", {1, std::string("\xc3\xa9t\xc3\xa9\0", 6)}},
      {"@", {1, std::string("at\0", 3)}},
  };
  for (const auto& [name, value] : values) key.values[name] = value;
  ExpectRoundTrip(root);
}

TEST(RegistryText, WritesOneCanonicalForm) {
  Key root = Parse(
      "REGEDIT4\n"
      "[hkey_local_machine\\Software\\b]\n"
      "\"z\"=\"1\"\n"
      "@=\"d\"\n"
      "\"A\"=dword:0000000A\n"
      "[HKEY_LOCAL_MACHINE\\Software\\_under]\n"
      "[HKEY_LOCAL_MACHINE\\Software\\C]\n"
      "\"bin\"=hex:01,0A\n"
      "\"sz\"=hex(1):61,00\n"
      "\"nul\"=hex(1):61,00,62,00\n"
      "\"q\"=hex(b):01\n");
  EXPECT_EQ(WriteRegistryText(root),
            "REGEDIT4\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software\\_under]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software\\b]\n"
            "@=\"d\"\n"
            "\"A\"=dword:0000000a\n"
            "\"z\"=\"1\"\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software\\C]\n"
            "\"bin\"=hex:01,0a\n"
            "\"nul\"=hex(1):61,00,62,00\n"
            "\"q\"=hex(b):01\n"
            "\"sz\"=\"a\"\n"
            "\n");
  EXPECT_EQ(WriteRegistryText(Key()), "REGEDIT4\n\n");
}

TEST(RegistryText, HexListsFillLinesGreedilyWithinEightyCharacters) {
  Key root;
  root.FindOrCreate({"K"}, nullptr).values["Bin"] = {3, std::string(50, '\x11')};
  const std::string pairs23 = [] {
    std::string s;
    for (int i = 0; i < 23; ++i) s += "11,";
    return s;
  }();
  const std::string pairs25 = pairs23 + "11,11,";
  EXPECT_EQ(WriteRegistryText(root),
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n"
            "\"Bin\"=hex:" + pairs23 + "\\\n"
            "  " + pairs25 + "\\\n"
            "  11,11\n\n");

  // Whatever the name's length and the value's size: no line over 80 unless
  // it holds a single pair, and the value reads back the same.
  for (std::size_t nameLength : {1u, 40u, 70u, 76u, 77u, 78u, 90u}) {
    for (std::size_t size : {0u, 1u, 22u, 23u, 24u, 48u, 49u, 200u}) {
      Key one;
      one.values[std::string(nameLength, 'n')] = {5, std::string(size, '\x7f')};
      const std::string text = WriteRegistryText(one);
      std::istringstream lines(text);
      for (std::string line; std::getline(lines, line);) {
        if (line.size() > 80) {
          EXPECT_LE(std::count(line.begin(), line.end(), ','), 1) << line;
        }
      }
      ExpectRoundTrip(one);
    }
  }
}

TEST(RegistryText, ReadsWhatPeopleWriteByHand) {
  const Key root = Parse(
      "\xEF\xBB\xBFREGEDIT4\r\n"
      "\r\n"
      "; a comment\r\n"
      "   ; an indented comment\n"
      " \t \n"
      "  [HKEY_Local_Machine\\Software\\\\Vendor\\]  \n"
      "  \"Path\"=\"C:\\\\Vendor\\\\bin\"\n"
      "\"Text\"=\"say \\\"hi\\\"\\r\\n\"\n"
      "\"Hex\"=hex(7):61,00,\\\n"
      "      62,00,\\\n"
      "\t00\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\vendor]\n"
      "\"PATH\"=\"D:\\\\\"\n"
      "\"Empty\"=hex:\n"
      "\"Dword\"=dword:DEADbeef");  // no final line feed
  const Key* vendor = root.Find({"software", "VENDOR"});
  ASSERT_NE(vendor, nullptr);
  EXPECT_EQ(root.subkeys.begin()->first, "Software");  // first spelling kept
  EXPECT_EQ(vendor->values.size(), 5u);
  EXPECT_EQ(vendor->values.find("path")->first, "Path");
  EXPECT_EQ(vendor->values.at("Path"), (Value{1, std::string("D:\\\0", 4)}));  // last one wins
  EXPECT_EQ(vendor->values.at("Text"), (Value{1, std::string("say \"hi\"\r\n\0", 11)}));
  EXPECT_EQ(vendor->values.at("Hex"), (Value{7, std::string("a\0b\0\0", 5)}));
  EXPECT_EQ(vendor->values.at("Empty"), (Value{3, ""}));
  EXPECT_EQ(vendor->values.at("Dword"), (Value{4, Bytes({0xef, 0xbe, 0xad, 0xde})}));
}

struct Malformed {
  const char* what;
  std::string text;
  int line;
};

TEST(RegistryText, RefusesAnythingElseNamingTheLine) {
  const std::string header = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n";  // value lines start at 3
  const std::vector<Malformed> cases = {
      {"empty file", "", 1},
      {"another header", "Windows Registry Editor Version 6.00\n", 1},
      {"header not first", "\nREGEDIT4\n", 1},
      {"other root", "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n", 3},
      {"root prefix only", "REGEDIT4\n[HKEY_LOCAL_MACHINEX]\n", 2},
      {"key deletion", "REGEDIT4\n[-HKEY_LOCAL_MACHINE\\K]\n", 2},
      {"section without ]", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K\n", 2},
      {"text after section", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K] x\n", 2},
      {"leading backslash in path", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\\\K]\n", 2},
      {"key name too long", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\" + std::string(256, 'k') + "]\n", 2},
      {"control character in key", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\a\tb]\n", 2},
      {"value before section", "REGEDIT4\n\"a\"=\"b\"\n", 2},
      {"blank before =", header + "\"a\" =\"b\"\n", 3},
      {"blank after =", header + "\"a\"= \"b\"\n", 3},
      {"unquoted name", header + "a=\"b\"\n", 3},
      {"unterminated name", header + "\"a=\"b\"\n", 3},
      {"unterminated text", header + "\"a\"=\"b\n", 3},
      {"unknown escape in text", header + "\"a\"=\"\\t\"\n", 3},
      {"line feed escape in name", header + "\"a\\n\"=\"b\"\n", 3},
      {"control character in name", header + "\"a\x01\"=\"b\"\n", 3},
      {"text after value", header + "\"a\"=\"b\"c\n", 3},
      {"value deletion", header + "\"x\"=-\n", 3},
      {"short dword", header + "\"a\"=dword:123\n", 3},
      {"bad hex pair", header + "\"a\"=hex:0g\n", 3},
      {"single hex digit", header + "\"a\"=hex:1,02\n", 3},
      {"trailing comma", header + "\"a\"=hex:01,\n", 3},
      {"bad pair on continuation", header + "\"a\"=hex:01,\\\n  02,\\\n  zz\n", 5},
      {"continuation at end", header + "\"a\"=hex:01,\\\n", 3},
      {"bad type", header + "\"a\"=hex(x):01\n", 3},
      {"unknown data", header + "\"a\"=str:x\n", 3},
      {"junk line", header + "junk\n", 3},
  };
  for (const Malformed& c : cases) {
    SCOPED_TRACE(c.what);
    Key root;
    TextFault fault;
    EXPECT_FALSE(ParseRegistryText(c.text, &root, &fault));
    EXPECT_EQ(fault.line, c.line) << fault.what;
    EXPECT_FALSE(fault.what.empty());
  }
}

}  // namespace
}  // namespace posix_registry

namespace posix_registry {
namespace {

// Text as regedit exports it: UTF-16LE behind a byte-order mark.
std::string Utf16(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

TEST(RegistryText, ReadsWindowsExportsAsTheSingleByteRegistry) {
  const std::u16string exported =
      u"Windows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_CURRENT_USER\\Software\\Skipped]\r\n"
      u"\"Long\"=hex:01,02,\\\r\n  [HKEY_LOCAL_MACHINE\\NotASection]\r\n"
      u"\"Text\"=\"ignored\"\r\n\r\n"
      u"[HKEY_LOCAL_MACHINE\\Software\\Caf\u00e9]\r\n"
      u"\"Z\u00f6e \U0001F600\"=\"\u00c5ngstr\u00f6m\"\r\n"
      u"\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
      u"\"Multi\"=hex(7):e9,00,00,00,00,00\r\n"
      u"\"Bin\"=hex:e9,00\r\n"
      u"\"Lone\"=hex(1):00,d8,41,00\r\n"
      u"\"Count\"=dword:00000002\r\n";
  const std::string utf8Name = "Z\xc3\xb6" "e \xf0\x9f\x98\x80";
  {
    const Key root = Parse(Utf16(exported));
    EXPECT_EQ(root.subkeys.size(), 1u);  // the other root's keys are not kept
    const Key* key = root.Find({"Software", "Caf\xc3\xa9"});
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->values.at(utf8Name), (Value{1, std::string("\xc3\x85ngstr\xc3\xb6m\0", 11)}));
    EXPECT_EQ(key->values.at("Expand"), (Value{2, std::string("%A%\0", 4)}));
    EXPECT_EQ(key->values.at("Multi"), (Value{7, std::string("\xc3\xa9\0\0", 4)}));
    EXPECT_EQ(key->values.at("Bin"), (Value{3, std::string("\xe9\0", 2)}));
    EXPECT_EQ(key->values.at("Lone"), (Value{1, "\xef\xbf\xbd" "A"}));
    EXPECT_EQ(key->values.at("Count"), (Value{4, std::string("\2\0\0\0", 4)}));
    ExpectRoundTrip(root);
  }

  // The same header in UTF-8 reads the same way.
  const Key utf8 = Parse(
      "Windows Registry Editor Version 5.00\n[HKEY_USERS\\x]\n@=\"y\"\n"
      "[HKEY_LOCAL_MACHINE\\K]\n\"S\"=hex(1):e9,00,00,00\n");
  EXPECT_EQ(utf8.Find({"K"})->values.at("S"), (Value{1, std::string("\xc3\xa9\0", 3)}));

  Key root;
  TextFault fault;
  EXPECT_FALSE(ParseRegistryText(Utf16(u"Windows Registry Editor Version 5.00\r\n"
                                       u"[HKEY_LOCAL_MACHINE\\K]\r\n\"a\" = \"b\"\r\n"),
                                 &root, &fault));
  EXPECT_EQ(fault.line, 3);
}

}  // namespace
}  // namespace posix_registry
