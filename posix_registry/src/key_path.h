#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace posix_registry {

enum class PathFault {
  kNone,
  kLeadingBackslash,
  kComponentTooLong,
  kControlCharacter,
  kTooDeep,
};

constexpr std::size_t kMaxKeyNameLength = 255;
// As on Windows; it also bounds the recursion over the tree.
constexpr std::size_t kMaxKeyDepth = 512;

// Splits a backslash-separated subkey path into key names. Empty components
// (a trailing or doubled backslash) are skipped; an empty path is the root.
// More than kMaxKeyDepth names is kTooDeep.
PathFault SplitKeyPath(std::string_view path, std::vector<std::string>* names);

// Names that the file could not hold: any byte 0x00-0x1f or 0x7f.
bool HasControlCharacter(std::string_view name);

}  // namespace posix_registry
