// One open key of the registry stand-in (kept in registry-export files, see
// RegistryStore.h), with the members, results and fixed texts that callers
// of the Windows registry wrapper rely on.
#pragma once

#include <cstdint>
#include <string>

#include "automation/Variant.h"
#include "automation/Internal.h"

namespace pm {

inline constexpr int32_t HKEY_CLASSES_ROOT = static_cast<int32_t>(0x80000000u);
inline constexpr int32_t HKEY_CURRENT_USER = static_cast<int32_t>(0x80000001u);
inline constexpr int32_t HKEY_LOCAL_MACHINE = static_cast<int32_t>(0x80000002u);
inline constexpr int32_t HKEY_USERS = static_cast<int32_t>(0x80000003u);

namespace regtype {
inline constexpr int32_t None = 0, String = 1, ExpandString = 2, Binary = 3, DWord = 4, DWordBigEndian = 5, Link = 6,
                         MultiString = 7, ResourceList = 8, FullResourceDescriptor = 9, ResourceRequirementsList = 10;
}

class clsRegistry {
 public:
  clsRegistry() = default;
  PM_INTERNAL ~clsRegistry();
  clsRegistry(const clsRegistry&) = delete;
  clsRegistry& operator=(const clsRegistry&) = delete;

  PM_INTERNAL bool CreateDirectory(const std::string& name);
  PM_INTERNAL bool CreateValue(const std::string& name, const Variant& value, int32_t& type,
                               const Variant& further = Variant::missing());
  PM_INTERNAL Variant GetValue(const std::string& name, bool& raw);
  int32_t RegistryRootKey() const { return root_; }
  std::string SubDirectory() const { return path_; }
  PM_INTERNAL int16_t OpenRegistry(int32_t root, const std::string& path);
  Variant OneBackOnKey();
  bool CloseRegistry();

 private:
  // 1-based position of the last "\" in text, 0 when there is none.
  static int32_t LastBackslash(const std::string& text);

  int32_t root_ = 0;
  std::string path_;
  int32_t handle_ = 0;
  bool open_ = false;
};

}  // namespace pm
