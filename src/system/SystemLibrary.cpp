#include "system/SystemLibrary.h"

#include <dlfcn.h>

#include "automation/Error.h"

namespace pm {

SystemLibrary::SystemLibrary(const char* soname, const char* what) : soname_(soname), what_(what) {
  ::dlerror();
  // Never unloaded: the functions bound from it live as long as the process.
  handle_ = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!handle_) {
    const char* e = ::dlerror();
    unavailable(e ? e : "not found");
  }
}

void* SystemLibrary::symbol(const char* name) const {
  ::dlerror();
  void* p = ::dlsym(handle_, name);
  if (!p) {
    const char* e = ::dlerror();
    unavailable(e ? e : std::string(name) + " is missing");
  }
  return p;
}

void SystemLibrary::unavailable(const std::string& why) const {
  raise(basic::CannotCreateObject, std::string(what_) + " " + soname_ + " cannot be used: " + why);
}

}  // namespace pm
