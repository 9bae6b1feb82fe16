#include "servers/pdf/external/CurlLibrary.h"

#include <dlfcn.h>

#include <string>

#include "automation/Error.h"

namespace pm::pdf {

namespace {

constexpr const char* kCurlSoname = "libcurl.so.4";

[[noreturn]] void unavailable(const std::string& why) {
  raise(basic::CannotCreateObject, std::string("The network library ") + kCurlSoname + " cannot be used: " + why);
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

CurlLibrary load() {
  ::dlerror();
  void* lib = ::dlopen(kCurlSoname, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!lib) {
    const char* e = ::dlerror();
    unavailable(e ? e : "not found");
  }
  CurlLibrary c{};
  bind(lib, c.global_init, "curl_global_init");
  bind(lib, c.easy_init, "curl_easy_init");
  bind(lib, c.easy_setopt, "curl_easy_setopt");
  bind(lib, c.easy_perform, "curl_easy_perform");
  bind(lib, c.easy_getinfo, "curl_easy_getinfo");
  bind(lib, c.easy_strerror, "curl_easy_strerror");
  bind(lib, c.easy_cleanup, "curl_easy_cleanup");
  bind(lib, c.slist_append, "curl_slist_append");
  bind(lib, c.slist_free_all, "curl_slist_free_all");
  // Once per process, before any handle, as libcurl asks.
  if (c.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) unavailable("it could not be initialised");
  return c;
}

}  // namespace

const CurlLibrary& curlLibrary() {
  // A failed load is tried again at the next use (the static is not set).
  static const CurlLibrary library = load();
  return library;
}

}  // namespace pm::pdf
