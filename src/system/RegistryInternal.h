// The parts of the registry store that its files share: the names of the
// roots, the thread's last error, comparing and joining key paths, and what
// the open keys need of the hive files (RegistryFiles.cpp). Not for use
// outside the store; RegistryStore.h is its interface.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "system/RegistryStore.h"

namespace pm::registry::detail {

// Root handle values, as the Windows headers define them (kept here so the
// store does not depend on the automation-facing clsRegistry header).
inline constexpr int32_t kHKCR = static_cast<int32_t>(0x80000000u);
inline constexpr int32_t kHKCU = static_cast<int32_t>(0x80000001u);
inline constexpr int32_t kHKLM = static_cast<int32_t>(0x80000002u);
inline constexpr const char* kLocalMachine = "HKEY_LOCAL_MACHINE";
inline constexpr const char* kCurrentUser = "HKEY_CURRENT_USER";
inline constexpr const char* kClassesRoot = "HKEY_CLASSES_ROOT";
inline constexpr const char* kClassesPrefix = "SOFTWARE\\Classes";
inline constexpr const char* kDefaultSystemHive = "/etc/pressmark/HKEY_LOCAL_MACHINE.reg";

inline constexpr size_t kMaxKeyDepth = 512;

// The last failure of a call on this thread: fail() records it and returns
// the code, ok() clears it.
extern thread_local std::string tLastError;
int32_t fail(int32_t code, std::string text);
int32_t ok();

char lowerAscii(char c);
bool equalsFolded(std::string_view a, std::string_view b);
std::string foldName(std::string_view s);

// The non-empty parts of a "\"-separated path.
std::vector<std::string_view> splitPath(std::string_view path);
std::string joinPath(const std::vector<std::string_view>& parts);
std::string canonicalPath(std::string_view path);
std::string joinPaths(std::string_view base, std::string_view sub);
// Names the file format cannot hold: line breaks and NULs.
bool unwritableName(std::string_view s);

// ---- What the open keys need of the files ----------------------------------

// Guards the files' cache, the locations and the table of open keys.
extern std::mutex gMutex;

// The hive (0 HKEY_LOCAL_MACHINE, 1 HKEY_CURRENT_USER) and the key prefix of
// a predefined root; false for any other value.
bool resolveRoot(int32_t root, int& hive, std::string& prefix);

// The hive as readers see it: the overlay's keys and values over the
// primary file's.
struct View {
  std::shared_ptr<const Hive> primary, overlay;
  bool keyExists(const std::string& path) const {
    return primary->findKey(path) || (overlay && overlay->findKey(path)) || foldPath(path).empty();
  }
  const Value* value(const std::string& path, std::string_view name) const {
    if (overlay)
      if (const Key* k = overlay->findKey(path))
        if (const Value* v = k->find(name)) return v;
    if (const Key* k = primary->findKey(path)) return k->find(name);
    return nullptr;
  }
};

// The rest hold gMutex.
int32_t loadViewLocked(int hive, View& view);
// The file writes go to; "" when there is none that can be written.
std::string writeTargetLocked(int hive);
// Read-modify-write of the hive's write target under its lock. The mutation
// may refuse by returning a code other than kSuccess; nothing is written then.
int32_t writeLocked(int hive, const std::function<int32_t(Hive&)>& mutate);

}  // namespace pm::registry::detail
