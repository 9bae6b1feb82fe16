// A library of the system's, opened by its soname the first time its work
// is asked for, so that work which never needs it does not map it (nor what
// it brings). Its functions are bound by name; a missing library or
// function raises error 429 saying which library, what it is for, and the
// loader's reason.
#pragma once

#include <string>

#include "automation/Internal.h"

namespace pm {

class SystemLibrary {
 public:
  // what: how the error names the library ("The printing system's library").
  PM_INTERNAL SystemLibrary(const char* soname, const char* what);

  template <class Fn>
  void bind(Fn& fn, const char* name) const {
    fn = reinterpret_cast<Fn>(symbol(name));
  }

  [[noreturn]] PM_INTERNAL void unavailable(const std::string& why) const;

 private:
  PM_INTERNAL void* symbol(const char* name) const;

  const char* soname_;
  const char* what_;
  void* handle_;
};

}  // namespace pm
