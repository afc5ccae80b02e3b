#include "key_path.h"

namespace posix_registry {

bool HasControlCharacter(std::string_view name) {
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return true;
  }
  return false;
}

PathFault SplitKeyPath(std::string_view path, std::vector<std::string>* names) {
  names->clear();
  if (!path.empty() && path.front() == '\\') return PathFault::kLeadingBackslash;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view name = path.substr(start, end - start);
    if (!name.empty()) {
      if (name.size() > kMaxKeyNameLength) return PathFault::kComponentTooLong;
      if (HasControlCharacter(name)) return PathFault::kControlCharacter;
      if (names->size() == kMaxKeyDepth) return PathFault::kTooDeep;
      names->emplace_back(name);
    }
    start = end + 1;
  }
  return PathFault::kNone;
}

}  // namespace posix_registry
