#include "registry_tree.h"

namespace posix_registry {

namespace {

unsigned char Fold(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte + 32) : byte;
}

}  // namespace

bool NameLess::operator()(std::string_view a, std::string_view b) const {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    const unsigned char x = Fold(a[i]);
    const unsigned char y = Fold(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

bool NamesEqual(std::string_view a, std::string_view b) {
  return !NameLess()(a, b) && !NameLess()(b, a);
}

const Key* Key::Find(const std::vector<std::string>& path) const {
  const Key* key = this;
  for (const std::string& name : path) {
    const auto found = key->subkeys.find(name);
    if (found == key->subkeys.end()) return nullptr;
    key = found->second.get();
  }
  return key;
}

Key* Key::Find(const std::vector<std::string>& path) {
  return const_cast<Key*>(static_cast<const Key*>(this)->Find(path));
}

Key& Key::FindOrCreate(const std::vector<std::string>& path, bool* created) {
  Key* key = this;
  bool any = false;
  for (const std::string& name : path) {
    auto& slot = key->subkeys[name];
    if (!slot) {
      slot = std::make_unique<Key>();
      any = true;
    }
    key = slot.get();
  }
  if (created != nullptr) *created = any;
  return *key;
}

bool Key::operator==(const Key& other) const {
  if (values.size() != other.values.size() ||
      subkeys.size() != other.subkeys.size()) {
    return false;
  }
  for (auto a = values.begin(), b = other.values.begin(); a != values.end();
       ++a, ++b) {
    if (a->first != b->first || !(a->second == b->second)) return false;
  }
  for (auto a = subkeys.begin(), b = other.subkeys.begin(); a != subkeys.end();
       ++a, ++b) {
    if (a->first != b->first || !(*a->second == *b->second)) return false;
  }
  return true;
}

}  // namespace posix_registry
