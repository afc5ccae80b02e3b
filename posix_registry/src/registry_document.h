#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "registry_text.h"
#include "registry_tree.h"

namespace posix_registry {

// A registry together with its canonical text, kept in step change by change:
// a change edits the text where it differs instead of writing it all anew, so
// that it costs about one copy of the text however large the registry is.
class RegistryDocument {
 public:
  RegistryDocument() : text_(WriteRegistryText(root_)) {}
  // Reads file text (see ParseRegistryText). Returns false with the fault.
  static bool Read(std::string_view fileText, RegistryDocument* document, TextFault* fault);

  const Key& root() const { return root_; }
  const std::string& text() const { return text_; }  // always WriteRegistryText(root())

  // Creates every missing key on path; says whether any was missing.
  bool CreateKey(const std::vector<std::string>& path);
  // Sets a value of the existing key at path; says whether anything changed.
  bool SetValue(const std::vector<std::string>& path, const std::string& name, const Value& value);

 private:
  // Where the section of the key at path starts in text_.
  std::size_t SectionStart(const std::vector<std::string>& path) const;

  Key root_;
  std::string text_;
};

}  // namespace posix_registry
