#pragma once

#include <string>
#include <string_view>

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
// registry, and writing that again gives the same bytes.
std::string WriteRegistryText(const Key& root);

}  // namespace posix_registry
