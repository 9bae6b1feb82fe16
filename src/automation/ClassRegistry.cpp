#include "automation/ClassRegistry.h"

#include <algorithm>

#include "automation/Error.h"
#include "automation/ServerModules.h"

namespace pm {

namespace {
std::string fold(std::string_view s) {
  return foldClassName(s);
}
bool matches(const ClassRegistry::Entry& e, const std::string& key) {
  return (!e.progId.empty() && fold(e.progId) == key) || (!e.clsid.empty() && fold(e.clsid) == key);
}
}  // namespace

ClassRegistry& ClassRegistry::instance() {
  static ClassRegistry r;
  return r;
}

uint64_t ClassRegistry::add(std::string progId, std::string clsid, Factory factory, std::string description) {
  std::lock_guard lock(mu_);
  uint64_t t = next_++;
  entries_.push_back(Entry{t, std::move(progId), std::move(clsid), std::move(description), std::move(factory)});
  return t;
}

void ClassRegistry::remove(uint64_t token) {
  std::lock_guard lock(mu_);
  std::erase_if(entries_, [&](const Entry& e) { return e.token == token; });
}

bool ClassRegistry::has(std::string_view name) const {
  std::string key = fold(name);
  {
    std::lock_guard lock(mu_);
    if (std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return matches(e, key); })) return true;
  }
  const ServerModule* m = serverModuleFor(name);
  return m && serverModulePresent(*m);
}

ObjectRef ClassRegistry::create(std::string_view name) const {
  std::string key = fold(name);
  auto find = [&] {
    std::lock_guard lock(mu_);
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
      if (matches(*it, key)) return it->factory;
    return Factory();
  };
  Factory f = find();
  // A server's classes register as its module loads, so the first creation
  // of one of them loads it; the lock is not held, since loading registers.
  if (!f)
    if (const ServerModule* m = serverModuleFor(name)) {
      loadServerModule(*m);
      f = find();
    }
  if (!f)
    raise(basic::CannotCreateObject, std::string(basicDescription(basic::CannotCreateObject)) +
                                         ": no class is registered as \"" + std::string(name) + "\"");
  ObjectRef o = f();
  if (!o)
    raise(basic::CannotCreateObject,
          std::string(basicDescription(basic::CannotCreateObject)) + ": " + std::string(name));
  return o;
}

std::vector<ClassRegistry::Entry> ClassRegistry::entries() const {
  std::lock_guard lock(mu_);
  return entries_;
}

ObjectRef CreateObject(std::string_view name) {
  return ClassRegistry::instance().create(name);
}

}  // namespace pm
