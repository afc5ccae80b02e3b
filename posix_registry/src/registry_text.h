#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "registry_tree.h"

namespace posix_registry {

struct TextFault {
  int line = 0;  // 1-based line of the file where reading stopped
  std::string what;
};

// Reads a REGEDIT4 file into root (which must be empty). Returns false with
// the first fault when the text is not a registry this layer can read.
bool ParseRegistryText(std::string_view text, Key* root, TextFault* fault);

// The one canonical REGEDIT4 form of root: reading it back gives the same
// registry, and writing that again gives the same bytes. sizeHint, when
// known, saves growing the text as it is written.
std::string WriteRegistryText(const Key& root, std::size_t sizeHint = 0);

// Pieces of the canonical form, for changing a canonical text in place:
// "[HKEY_LOCAL_MACHINE\path]\n", a value's line or lines, and the length of
// what comes before the first section.
void AppendSectionLine(const std::vector<std::string>& path, std::string* out);
void AppendValueLines(const std::string& name, const Value& value, std::string* out);
std::size_t CanonicalHeaderLength();

}  // namespace posix_registry
