// pressmark.Object: a late-bound object of the component as Python sees it.
// Attribute reads call property gets or hand out methods, assignments call
// property lets (sets for objects), with the member table's names, kinds and
// parameters.
#pragma once

#include <pybind11/pybind11.h>

#include <string_view>

#include "ThreadHome.h"
#include "automation/Automation.h"

namespace pmpy {

namespace py = pybind11;

class Object {
 public:
  explicit Object(pm::ObjectRef ref);
  ~Object();
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  // The object when the caller is on its thread (error otherwise).
  const pm::ObjectRef& use() const;
  const pm::ObjectRef& ref() const { return ref_; }
  ThreadId owner() const { return owner_; }

  // The wrapper inside a Python value, or nullptr.
  static Object* from(py::handle h);
  static py::object wrap(pm::ObjectRef ref);

 private:
  pm::ObjectRef ref_;
  ThreadId owner_;
};

// One call: Python positional arguments (a tuple; pressmark.Ref items go by
// reference and get the written value back), keyword arguments as named
// arguments (a dict, may be null). The global interpreter lock is released
// while the member runs.
py::object invoke(Object& self, std::string_view name, pm::Invoke kind, py::handle args, py::handle kwargs);

// The attribute protocol.
py::object getAttribute(py::handle self, py::handle name);
void setAttribute(py::handle self, py::handle name, py::handle value);
py::list memberNames(py::handle self);

void bindObject(py::module_& m);

}  // namespace pmpy
