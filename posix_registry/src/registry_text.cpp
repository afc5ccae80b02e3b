#include "registry_text.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "key_path.h"

namespace posix_registry {

namespace {

constexpr std::string_view kHeader = "REGEDIT4";
// What regedit exports today: Unicode names, texts and string-typed hex values.
constexpr std::string_view kExportHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kUtf16ByteOrderMark = "\xFF\xFE";
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kRootName = "HKEY_LOCAL_MACHINE";
constexpr std::size_t kMaxLineLength = 80;
constexpr std::uint32_t kTypeString = 1;
constexpr std::uint32_t kTypeExpandString = 2;
constexpr std::uint32_t kTypeBinary = 3;
constexpr std::uint32_t kTypeDword = 4;
constexpr std::uint32_t kTypeMultiString = 7;
constexpr char32_t kReplacementCharacter = 0xFFFD;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeadingBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimTrailingBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads 1 to maxDigits hex digits making up all of s.
bool ParseHexNumber(std::string_view s, std::size_t maxDigits, std::uint32_t* number) {
  if (s.empty() || s.size() > maxDigits) return false;
  std::uint32_t result = 0;
  for (const char c : s) {
    const int digit = HexDigit(c);
    if (digit < 0) return false;
    result = result * 16 + static_cast<std::uint32_t>(digit);
  }
  *number = result;
  return true;
}

void AppendUtf8(char32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// UTF-16LE to UTF-8. A surrogate without its partner, which UTF-8 cannot
// hold, becomes U+FFFD; an odd last byte is kept as it is.
std::string Utf16ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  const auto unit = [&bytes](std::size_t i) {
    return static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                 static_cast<unsigned char>(bytes[i + 1]) << 8);
  };
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    const char16_t first = unit(i);
    char32_t code = first;
    if (first >= 0xD800 && first <= 0xDBFF) {
      const char16_t second = (i + 3 < bytes.size()) ? unit(i + 2) : 0;
      if (second >= 0xDC00 && second <= 0xDFFF) {
        code = 0x10000 + ((static_cast<char32_t>(first) - 0xD800) << 10) + (second - 0xDC00);
        i += 2;
      } else {
        code = kReplacementCharacter;
      }
    } else if (first >= 0xDC00 && first <= 0xDFFF) {
      code = kReplacementCharacter;
    }
    AppendUtf8(code, &out);
  }
  if (i < bytes.size()) out.push_back(bytes[i]);
  return out;
}

const char* DescribePathFault(PathFault fault) {
  switch (fault) {
    case PathFault::kLeadingBackslash: return "key path starts with a backslash";
    case PathFault::kComponentTooLong: return "key name longer than 255 characters";
    case PathFault::kControlCharacter: return "control character in key name";
    case PathFault::kTooDeep: return "key path deeper than 512 levels";
    case PathFault::kNone: break;
  }
  return "bad key path";
}

class Parser {
 public:
  Parser(std::string_view text, Key* root, TextFault* fault)
      : root_(root), fault_(fault) {
    if (StartsWith(text, kUtf8ByteOrderMark)) text.remove_prefix(kUtf8ByteOrderMark.size());
    lines_.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    while (!text.empty()) {
      std::size_t end = text.find('\n');
      std::string_view line = text.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      lines_.push_back(line);
      if (end == std::string_view::npos) break;
      text.remove_prefix(end + 1);
    }
  }

  bool Parse() {
    const std::string_view header =
        lines_.empty() ? std::string_view() : TrimTrailingBlanks(TrimLeadingBlanks(lines_[0]));
    exported_ = header == kExportHeader;
    if (header != kHeader && !exported_) {
      return Fail(1, "first line is not REGEDIT4");
    }
    for (index_ = 1; index_ < lines_.size(); ++index_) {
      const std::string_view line = TrimLeadingBlanks(lines_[index_]);
      if (line.empty() || line.front() == ';') continue;
      bool ok = false;
      if (line.front() == '[') {
        ok = ParseSection(line);
      } else if (line.front() == '@' || line.front() == '"') {
        ok = ParseValueLine(line);
      } else {
        ok = Fail(LineNumber(), "neither a section nor a value");
      }
      if (!ok) return false;
    }
    return true;
  }

 private:
  int LineNumber() const { return static_cast<int>(index_) + 1; }

  bool Fail(int line, std::string what) {
    fault_->line = line;
    fault_->what = std::move(what);
    return false;
  }

  bool ParseSection(std::string_view line) {
    const std::size_t close = line.rfind(']');
    if (close == std::string_view::npos) return Fail(LineNumber(), "section without ]");
    if (!TrimLeadingBlanks(line.substr(close + 1)).empty()) {
      return Fail(LineNumber(), "text after the section's ]");
    }
    const std::string_view name = line.substr(1, close - 1);
    if (StartsWith(name, "-")) return Fail(LineNumber(), "key deletions are not supported");
    const bool underRoot =
        name.size() >= kRootName.size() && NamesEqual(name.substr(0, kRootName.size()), kRootName) &&
        (name.size() == kRootName.size() || name[kRootName.size()] == '\\');
    if (!underRoot) {
      // An export of several roots: only HKEY_LOCAL_MACHINE is ours.
      if (!exported_) return Fail(LineNumber(), "section outside HKEY_LOCAL_MACHINE");
      section_ = nullptr;
      skipping_ = true;
      return true;
    }
    skipping_ = false;
    std::string_view path = name.substr(kRootName.size());
    if (!path.empty()) path.remove_prefix(1);
    std::vector<std::string> names;
    const PathFault pathFault = SplitKeyPath(path, &names);
    if (pathFault != PathFault::kNone) return Fail(LineNumber(), DescribePathFault(pathFault));
    section_ = &root_->FindOrCreate(names, nullptr);
    return true;
  }

  bool ParseValueLine(std::string_view line) {
    if (skipping_) return SkipValueLine(line);
    if (section_ == nullptr) return Fail(LineNumber(), "value before any section");
    std::size_t pos = 0;
    std::string name;
    if (line.front() == '@') {
      pos = 1;
    } else if (!ParseQuoted(line, &pos, false, &name)) {
      return false;
    }
    if (pos >= line.size() || line[pos] != '=') {
      return Fail(LineNumber(), "expected = right after the value name");
    }
    const std::string_view data = line.substr(pos + 1);
    Value value;
    if (StartsWith(data, "\"")) {
      std::size_t end = 0;
      if (!ParseQuoted(data, &end, true, &value.data)) return false;
      if (!TrimLeadingBlanks(data.substr(end)).empty()) {
        return Fail(LineNumber(), "text after the value");
      }
      value.data.push_back('\0');
      value.type = kTypeString;
    } else if (StartsWith(data, "dword:")) {
      std::uint32_t number = 0;
      const std::string_view digits = TrimTrailingBlanks(data.substr(6));
      if (digits.size() != 8 || !ParseHexNumber(digits, 8, &number)) {
        return Fail(LineNumber(), "dword: needs eight hex digits");
      }
      for (int shift = 0; shift < 32; shift += 8) {
        value.data.push_back(static_cast<char>((number >> shift) & 0xff));
      }
      value.type = kTypeDword;
    } else if (StartsWith(data, "hex:")) {
      value.type = kTypeBinary;
      if (!ParseHexList(data.substr(4), &value.data)) return false;
    } else if (StartsWith(data, "hex(")) {
      const std::size_t close = data.find("):");
      if (close == std::string_view::npos || !ParseHexNumber(data.substr(4, close - 4), 8, &value.type)) {
        return Fail(LineNumber(), "hex(N): needs a hex type number");
      }
      if (!ParseHexList(data.substr(close + 2), &value.data)) return false;
      const bool stringType = value.type == kTypeString || value.type == kTypeExpandString ||
                              value.type == kTypeMultiString;
      if (exported_ && stringType) value.data = Utf16ToUtf8(value.data);
    } else if (StartsWith(data, "-")) {
      return Fail(LineNumber(), "value deletions are not supported");
    } else {
      return Fail(LineNumber(), "value is not a \"text\", dword: or hex list");
    }
    section_->values[name] = std::move(value);
    return true;
  }

  // A value of a skipped section: only its continuation lines matter.
  bool SkipValueLine(std::string_view line) {
    while (!TrimTrailingBlanks(line).empty() && TrimTrailingBlanks(line).back() == '\\' &&
           index_ + 1 < lines_.size()) {
      line = lines_[++index_];
    }
    return true;
  }

  // Reads the quoted string that starts at line[*pos]; leaves *pos after it.
  bool ParseQuoted(std::string_view line, std::size_t* pos, bool isText, std::string* out) {
    for (std::size_t i = *pos + 1; i < line.size(); ++i) {
      char c = line[i];
      if (c == '"') {
        *pos = i + 1;
        return true;
      }
      if (c == '\\') {
        if (++i == line.size()) break;
        c = line[i];
        if (isText && c == 'n') {
          c = '\n';
        } else if (isText && c == 'r') {
          c = '\r';
        } else if (c != '\\' && c != '"') {
          return Fail(LineNumber(), std::string("unknown escape \\") + c);
        }
      } else if (HasControlCharacter(std::string_view(&c, 1))) {
        return Fail(LineNumber(), isText ? "control character in text" : "control character in value name");
      }
      out->push_back(c);
    }
    return Fail(LineNumber(), "unterminated quote");
  }

  // Reads comma-separated byte pairs, following lines that end in a
  // backslash. Faults name the line that holds the bad pair.
  bool ParseHexList(std::string_view first, std::string* bytes) {
    std::string joined;
    std::vector<std::pair<std::size_t, int>> lineStarts;  // offset in joined, line
    std::string_view segment = TrimTrailingBlanks(first);
    for (;;) {
      lineStarts.emplace_back(joined.size(), LineNumber());
      if (segment.empty() || segment.back() != '\\') break;
      joined.append(segment.substr(0, segment.size() - 1));
      if (index_ + 1 == lines_.size()) {
        return Fail(LineNumber(), "hex list continues past the end of the file");
      }
      ++index_;
      segment = TrimTrailingBlanks(TrimLeadingBlanks(lines_[index_]));
    }
    joined.append(segment);
    if (joined.empty()) return true;

    const auto lineAt = [&lineStarts](std::size_t offset) {
      int line = lineStarts.front().second;
      for (const auto& start : lineStarts) {
        if (start.first <= offset) line = start.second;
      }
      return line;
    };
    for (std::size_t i = 0;; i += 3) {
      if (i + 2 > joined.size() || HexDigit(joined[i]) < 0 || HexDigit(joined[i + 1]) < 0) {
        return Fail(lineAt(i), "bad hex byte");
      }
      bytes->push_back(static_cast<char>(HexDigit(joined[i]) * 16 + HexDigit(joined[i + 1])));
      if (i + 2 == joined.size()) return true;
      if (joined[i + 2] != ',') return Fail(lineAt(i + 2), "hex bytes must be separated by commas");
    }
  }

  std::vector<std::string_view> lines_;
  std::size_t index_ = 0;
  bool exported_ = false;  // a regedit export rather than REGEDIT4
  bool skipping_ = false;  // in a section of another root
  Key* root_;
  Key* section_ = nullptr;
  TextFault* fault_;
};

void AppendQuoted(std::string_view text, std::string* out) {
  out->push_back('"');
  std::size_t run = 0;  // characters that need no escape, appended at once
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' || text[i] == '"') {
      out->append(text.substr(run, i - run));
      out->push_back('\\');
      run = i;
    }
  }
  out->append(text.substr(run));
  out->push_back('"');
}

// Text with no control character before exactly one final NUL.
bool IsPlainString(const Value& value) {
  return value.type == kTypeString && !value.data.empty() && value.data.back() == '\0' &&
         !HasControlCharacter(std::string_view(value.data).substr(0, value.data.size() - 1));
}

constexpr char kHexDigits[] = "0123456789abcdef";

// Byte pairs, as many to a line as fit in 80 characters with the closing
// backslash, at least one; continuation lines start with two blanks.
void AppendHexList(const std::string& data, std::size_t lineStart, std::string* out) {
  std::size_t pairsOnLine = 0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    const bool last = i + 1 == data.size();
    const std::size_t needed = last ? 2 : 4;  // "xx" or "xx," with room for "\"
    if (pairsOnLine > 0 && out->size() - lineStart + needed > kMaxLineLength) {
      out->append("\\\n  ");
      lineStart = out->size() - 2;
      pairsOnLine = 0;
    }
    const auto byte = static_cast<unsigned char>(data[i]);
    out->push_back(kHexDigits[byte >> 4]);
    out->push_back(kHexDigits[byte & 0xf]);
    if (!last) out->push_back(',');
    ++pairsOnLine;
  }
}

}  // namespace

void AppendValueLines(const std::string& name, const Value& value, std::string* out) {
  const std::size_t lineStart = out->size();
  if (name.empty()) {
    out->push_back('@');
  } else {
    AppendQuoted(name, out);
  }
  out->push_back('=');
  if (IsPlainString(value)) {
    AppendQuoted(std::string_view(value.data).substr(0, value.data.size() - 1), out);
  } else if (value.type == kTypeDword && value.data.size() == 4) {
    out->append("dword:");
    for (int i = 3; i >= 0; --i) {
      const auto byte = static_cast<unsigned char>(value.data[static_cast<std::size_t>(i)]);
      out->push_back(kHexDigits[byte >> 4]);
      out->push_back(kHexDigits[byte & 0xf]);
    }
  } else {
    if (value.type == kTypeBinary) {
      out->append("hex:");
    } else {
      out->append("hex(");
      bool leading = true;
      for (int shift = 28; shift >= 0; shift -= 4) {
        const std::uint32_t digit = (value.type >> shift) & 0xf;
        if (digit == 0 && leading && shift > 0) continue;
        leading = false;
        out->push_back(kHexDigits[digit]);
      }
      out->append("):");
    }
    AppendHexList(value.data, lineStart, out);
  }
  out->push_back('\n');
}

void AppendSectionLine(const std::vector<std::string>& path, std::string* out) {
  out->push_back('[');
  out->append(kRootName);
  for (const std::string& name : path) {
    out->push_back('\\');
    out->append(name);
  }
  out->append("]\n");
}

std::size_t CanonicalHeaderLength() { return kHeader.size() + 2; }

namespace {

void AppendKey(const Key& key, bool isRoot, std::string* path, std::string* out) {
  if (!isRoot || !key.values.empty()) {
    out->push_back('[');
    out->append(*path);
    out->append("]\n");
    for (const auto& [name, value] : key.values) AppendValueLines(name, value, out);
    out->push_back('\n');
  }
  for (const auto& [name, subkey] : key.subkeys) {
    const std::size_t length = path->size();
    path->push_back('\\');
    path->append(name);
    AppendKey(*subkey, false, path, out);
    path->resize(length);
  }
}

}  // namespace

bool ParseRegistryText(std::string_view text, Key* root, TextFault* fault) {
  if (StartsWith(text, kUtf16ByteOrderMark)) {
    const std::string decoded = Utf16ToUtf8(text.substr(kUtf16ByteOrderMark.size()));
    return Parser(decoded, root, fault).Parse();
  }
  return Parser(text, root, fault).Parse();
}

std::string WriteRegistryText(const Key& root, std::size_t sizeHint) {
  std::string out;
  out.reserve(sizeHint);
  out.append(kHeader);
  out.append("\n\n");
  std::string path(kRootName);
  AppendKey(root, true, &path, &out);
  return out;
}

}  // namespace posix_registry
