// Events into Python: pressmark.WithEvents(obj, handler) connects a handler
// whose On<Event> methods are called with the event's arguments while the
// member that raised them runs.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>

namespace pmpy {

namespace py = pybind11;

// One member call as seen by the handlers it triggers: an exception a handler
// raises cannot cross the component's code, so the first one is held and
// raised when the call returns.
class CallScope {
 public:
  CallScope();
  ~CallScope();
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;
  // Raises the held handler exception, if any (with the lock held).
  void raisePending();

 private:
  std::unique_ptr<py::error_already_set> outer_;
};

void bindEvents(py::module_& m);

}  // namespace pmpy
