// Creation of objects by ProgID or by class id ("{...}" text). Servers
// register their classes; a later registration of a name shadows an earlier
// one until it is removed, which is how tests put a recording server in place
// of a real one.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "automation/Variant.h"
#include "automation/Internal.h"

namespace pm {

using Factory = std::function<ObjectRef()>;

class ClassRegistry {
 public:
  PM_INTERNAL static ClassRegistry& instance();

  // Either name may be empty. Returns a token for remove().
  PM_INTERNAL uint64_t add(std::string progId, std::string clsid, Factory factory, std::string description = {});
  void remove(uint64_t token);

  // Error 429 when nothing is registered under the name.
  ObjectRef create(std::string_view progIdOrClsid) const;
  bool has(std::string_view progIdOrClsid) const;

  struct Entry {
    uint64_t token;
    std::string progId, clsid, description;
    Factory factory;
  };
  PM_INTERNAL std::vector<Entry> entries() const;

 private:
  mutable std::mutex mu_;
  std::vector<Entry> entries_;
  uint64_t next_ = 1;
};

PM_INTERNAL ObjectRef CreateObject(std::string_view progIdOrClsid);

// Registration for as long as the object lives.
class ScopedClass {
 public:
  ScopedClass(std::string progId, std::string clsid, Factory f)
      : token_(ClassRegistry::instance().add(std::move(progId), std::move(clsid), std::move(f))) {}
  ~ScopedClass() { ClassRegistry::instance().remove(token_); }
  ScopedClass(const ScopedClass&) = delete;
  ScopedClass& operator=(const ScopedClass&) = delete;

 private:
  uint64_t token_;
};

}  // namespace pm

namespace pm {
// A server's class, registered when the library loads:
//   static const RegisterClass reg("AcroExch.App", "", [] { return std::make_shared<App>(); });
struct RegisterClass {
  RegisterClass(std::string progId, std::string clsid, Factory f, std::string description = {}) {
    ClassRegistry::instance().add(std::move(progId), std::move(clsid), std::move(f), std::move(description));
  }
};
}  // namespace pm
