#include "system/CupsLibrary.h"

#include <dlfcn.h>

#include <string>

#include "automation/Error.h"

namespace pm {

namespace {

constexpr const char* kCupsSoname = "libcups.so.2";

[[noreturn]] void unavailable(const std::string& why) {
  raise(basic::CannotCreateObject,
        std::string("The printing system's library ") + kCupsSoname + " cannot be used: " + why);
}

template <class Fn>
void bind(void* lib, Fn& fn, const char* name) {
  ::dlerror();
  void* p = ::dlsym(lib, name);
  if (!p) {
    const char* e = ::dlerror();
    unavailable(e ? e : std::string(name) + " is missing");
  }
  fn = reinterpret_cast<Fn>(p);
}

CupsLibrary load() {
  ::dlerror();
  void* lib = ::dlopen(kCupsSoname, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!lib) {
    const char* e = ::dlerror();
    unavailable(e ? e : "not found");
  }
  CupsLibrary c{};
  bind(lib, c.getDests2, "cupsGetDests2");
  bind(lib, c.setDests2, "cupsSetDests2");
  bind(lib, c.freeDests, "cupsFreeDests");
  bind(lib, c.getNamedDest, "cupsGetNamedDest");
  bind(lib, c.getOption, "cupsGetOption");
  bind(lib, c.addOption, "cupsAddOption");
  bind(lib, c.freeOptions, "cupsFreeOptions");
  bind(lib, c.printFile2, "cupsPrintFile2");
  bind(lib, c.lastErrorString, "cupsLastErrorString");
  return c;
}

}  // namespace

const CupsLibrary& cups() {
  // A failed load is tried again at the next use (the static is not set).
  static const CupsLibrary library = load();
  return library;
}

}  // namespace pm
