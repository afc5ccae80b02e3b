#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace posix_registry {

// Registry names compare with A to Z taken as a to z, byte by byte as
// unsigned values. This is also the order in which the file lists them.
struct NameLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

bool NamesEqual(std::string_view a, std::string_view b);

struct Value {
  std::uint32_t type = 0;
  std::string data;  // the bytes exactly as stored
  bool operator==(const Value& other) const {
    return type == other.type && data == other.data;
  }
};

// A key with its values and subkeys. Each name keeps the spelling it was
// first given; the default value has the empty name, so it sorts first.
struct Key {
  std::map<std::string, Value, NameLess> values;
  std::map<std::string, std::unique_ptr<Key>, NameLess> subkeys;

  const Key* Find(const std::vector<std::string>& path) const;
  Key* Find(const std::vector<std::string>& path);
  // Creates every missing key on the path; says whether any was missing.
  Key& FindOrCreate(const std::vector<std::string>& path, bool* created);
  // Same names as spelled, same values, same subkeys.
  bool operator==(const Key& other) const;
};

}  // namespace posix_registry
