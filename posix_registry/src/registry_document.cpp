#include "registry_document.h"

namespace posix_registry {

bool RegistryDocument::Read(std::string_view fileText, RegistryDocument* document,
                            TextFault* fault) {
  Key root;
  if (!ParseRegistryText(fileText, &root, fault)) return false;
  document->root_ = std::move(root);
  document->text_ = WriteRegistryText(document->root_, fileText.size() + fileText.size() / 8);
  return true;
}

std::size_t RegistryDocument::SectionStart(const std::vector<std::string>& path) const {
  // In the canonical form only section lines start with '[', and each key
  // has exactly one.
  std::string line = "\n";
  AppendSectionLine(path, &line);
  return text_.find(line) + 1;
}

bool RegistryDocument::CreateKey(const std::vector<std::string>& path) {
  // The first missing key, and the stored spelling of those above it.
  std::vector<std::string> spelled;
  const Key* key = &root_;
  for (const std::string& name : path) {
    const auto found = key->subkeys.find(name);
    if (found == key->subkeys.end()) break;
    spelled.push_back(found->first);
    key = found->second.get();
  }
  if (spelled.size() == path.size()) return false;
  const std::size_t firstNew = spelled.size();
  root_.FindOrCreate(path, nullptr);

  // The new keys' sections go, parent first, right before the section of the
  // key that follows the first of them depth first; at the end if none does.
  std::string sections;
  for (std::size_t i = firstNew; i < path.size(); ++i) {
    spelled.push_back(path[i]);
    AppendSectionLine(spelled, &sections);
    sections.push_back('\n');
  }
  std::size_t offset = text_.size();
  for (std::size_t level = firstNew + 1; level-- > 0;) {
    const std::vector<std::string> parentPath(spelled.begin(), spelled.begin() + level);
    const Key* parent = root_.Find(parentPath);
    const auto next = parent->subkeys.upper_bound(spelled[level]);
    if (next != parent->subkeys.end()) {
      std::vector<std::string> successor = parentPath;
      successor.push_back(next->first);
      offset = SectionStart(successor);
      break;
    }
  }
  text_.insert(offset, sections);
  return true;
}

bool RegistryDocument::SetValue(const std::vector<std::string>& path, const std::string& name,
                                const Value& value) {
  Key* key = root_.Find(path);
  const auto existing = key->values.find(name);
  if (existing != key->values.end() && existing->second == value) return false;
  const std::string& spelling = existing != key->values.end() ? existing->first : name;
  std::string lines;
  AppendValueLines(spelling, value, &lines);

  if (path.empty() && key->values.empty()) {
    // The root's section is written only once it holds a value.
    std::string section;
    AppendSectionLine({}, &section);
    text_.insert(CanonicalHeaderLength(), section + lines + "\n");
  } else {
    std::vector<std::string> spelled;
    const Key* walk = &root_;
    for (const std::string& component : path) {
      const auto found = walk->subkeys.find(component);
      spelled.push_back(found->first);
      walk = found->second.get();
    }
    std::string before;
    AppendSectionLine(spelled, &before);
    std::size_t offset = SectionStart(spelled) + before.size();
    for (auto v = key->values.begin(); v != key->values.end() && NameLess()(v->first, name); ++v) {
      before.clear();
      AppendValueLines(v->first, v->second, &before);
      offset += before.size();
    }
    std::size_t replaced = 0;
    if (existing != key->values.end()) {
      before.clear();
      AppendValueLines(existing->first, existing->second, &before);
      replaced = before.size();
    }
    text_.replace(offset, replaced, lines);
  }
  key->values[name] = value;
  return true;
}

}  // namespace posix_registry
