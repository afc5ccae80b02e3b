#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "registry/platform_registry.h"

// Stands in for the five registry functions in the tool's tests: a small
// in-memory registry, a log of every call with its arguments and result,
// failures injected per call, and a watch on the handles given out.
class FakeRegistry {
 public:
  static FakeRegistry& Instance();

  void Reset();

  void AddKey(const std::string& path);
  // A string stored as the tool would store it, with its NUL.
  void AddString(const std::string& path, const std::string& name, const std::string& text);
  void AddValue(const std::string& path, const std::string& name, DWORD type,
                const std::string& bytes);
  // Makes every call of function on argument (a key path, or a value name
  // for the value functions) return code, without doing anything.
  void Fail(const std::string& function, const std::string& argument, LONG code);

  bool HasKey(const std::string& path) const;
  std::optional<std::string> ValueOf(const std::string& path, const std::string& name) const;

  // One line per call: its name, arguments and result; handles show as h1, h2...
  const std::vector<std::string>& Calls() const { return calls_; }
  std::vector<std::string> CallsTo(const std::string& function) const;
  int OpenHandles() const { return static_cast<int>(open_.size()); }
  int BadCloses() const { return badCloses_; }

  // The five functions land here.
  LONG Open(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY result);
  LONG Query(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
             LPDWORD length);
  LONG Close(HKEY key);
  LONG Create(HKEY root, LPCSTR path, DWORD reserved, LPSTR keyClass, DWORD options,
              REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
              LPDWORD disposition);
  LONG Set(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
           DWORD length);

 private:
  struct StoredValue {
    DWORD type;
    std::string bytes;
  };
  using Values = std::map<std::string, StoredValue>;

  std::optional<LONG> InjectedFailure(const std::string& function,
                                      const std::string& argument) const;
  HKEY NewHandle(const std::string& path);
  std::string HandleName(HKEY key) const;
  void Record(const std::string& call, LONG result);

  std::map<std::string, Values> keys_;
  std::map<std::string, LONG> failures_;  // "function|argument" -> code
  std::map<HKEY, std::string> open_;      // handle -> key path
  std::map<HKEY, int> handleNumbers_;
  std::vector<std::string> calls_;
  int nextHandle_ = 1;
  int badCloses_ = 0;
};
