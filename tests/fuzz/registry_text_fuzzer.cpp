// Any input either is refused, naming a line, or reads into a registry that
// writes out in a form which reads back the same and writes the same bytes.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "registry_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using posix_registry::Key;
  using posix_registry::TextFault;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Key root;
  TextFault fault;
  if (!posix_registry::ParseRegistryText(text, &root, &fault)) {
    if (fault.line < 1 || fault.what.empty()) std::abort();
    return 0;
  }
  const std::string written = posix_registry::WriteRegistryText(root);
  Key reread;
  if (!posix_registry::ParseRegistryText(written, &reread, &fault)) std::abort();
  if (!(reread == root)) std::abort();
  if (posix_registry::WriteRegistryText(reread) != written) std::abort();
  return 0;
}
