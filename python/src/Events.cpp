#include "Events.h"

#include <string>

#include "Object.h"
#include "PyTypes.h"
#include "ThreadHome.h"
#include "Values.h"

namespace pmpy {

namespace {

thread_local int t_depth = 0;
thread_local std::unique_ptr<py::error_already_set> t_pending;

// What the sink reaches the handler through. The connection owns the
// handler; the sink only borrows it, so the component's objects never keep
// Python objects alive, and a closed connection leaves nothing to call.
struct SinkState {
  PyObject* handler = nullptr;
};

py::object handlerMethod(py::handle handler, const std::string& event) {
  std::string withOn = "On" + event;
  if (PyObject* m = PyObject_GetAttrString(handler.ptr(), withOn.c_str())) return py::reinterpret_steal<py::object>(m);
  PyErr_Clear();
  // An event whose own name starts with "On" (the Distiller's) may be
  // handled under that name too; any spelling of either name is accepted.
  std::string a = pm::LCase(withOn), b = pm::LCase(event);
  py::list names = py::reinterpret_steal<py::list>(PyObject_Dir(handler.ptr()));
  if (!names) {
    PyErr_Clear();
    return py::none();
  }
  for (py::handle n : names) {
    std::string name = pm::LCase(n.cast<std::string>());
    if (name == a || (b.starts_with("on") && name == b)) return handler.attr(n);
  }
  return py::none();
}

class PySink : public pm::EventSink {
 public:
  explicit PySink(std::shared_ptr<SinkState> s) : state_(std::move(s)) {}
  void onEvent(const pm::EventCall& e) override {
    py::gil_scoped_acquire gil;
    if (!state_->handler) return;
    try {
      py::object method = handlerMethod(state_->handler, e.event.name);
      if (method.is_none()) return;
      py::tuple args(e.args.size());
      for (size_t i = 0; i < e.args.size(); ++i) args[i] = toPython(e.args[i] ? *e.args[i] : pm::Variant());
      method(*args);
    } catch (py::error_already_set& ex) {
      hold(std::move(ex));
    } catch (...) {
      pm::AutomationError err = pm::currentAsAutomationError();
      try {
        raisePython(err);
      } catch (py::error_already_set& ex) {
        hold(std::move(ex));
      }
    }
  }

 private:
  static void hold(py::error_already_set&& ex) {
    if (t_depth > 0 && !t_pending)
      t_pending = std::make_unique<py::error_already_set>(std::move(ex));
    else
      ex.discard_as_unraisable("pressmark event handler");
  }
  std::shared_ptr<SinkState> state_;
};

class Connection {
 public:
  Connection(pm::ObjectRef source, py::object handler) : source_(std::move(source)), owner_(homeThread()) {
    handler_ = std::move(handler);
    state_ = std::make_shared<SinkState>();
    state_->handler = handler_.ptr();
    cookie_ = pm::connectEvents(source_, std::make_shared<PySink>(state_));
  }
  ~Connection() { close(); }

  void close() {
    if (state_) state_->handler = nullptr;
    if (cookie_) {
      releaseOn(owner_, [s = std::move(source_), c = cookie_]() mutable {
        pm::disconnectEvents(s, c);
        s.reset();
      });
      cookie_ = 0;
    }
    handler_ = py::none();
  }
  bool connected() const { return cookie_ != 0; }
  py::object handler() const { return handler_; }

  // For the cycle collector.
  py::object handler_;

 private:
  pm::ObjectRef source_;
  ThreadId owner_;
  uint32_t cookie_ = 0;
  std::shared_ptr<SinkState> state_;
};

Connection* connectionOf(PyObject* self) {
  // The collector may visit an instance before its value exists.
  auto* inst = reinterpret_cast<py::detail::instance*>(self);
  auto vh = inst->get_value_and_holder();
  if (!vh.holder_constructed()) return nullptr;
  return vh.template holder<std::unique_ptr<Connection>>().get();
}

}  // namespace

CallScope::CallScope() : outer_(std::move(t_pending)) {
  ++t_depth;
}

CallScope::~CallScope() {
  --t_depth;
  if (t_pending) t_pending->discard_as_unraisable("pressmark event handler");
  t_pending = std::move(outer_);
}

void CallScope::raisePending() {
  if (!t_pending) return;
  std::unique_ptr<py::error_already_set> e = std::move(t_pending);
  e->restore();
  throw py::error_already_set();
}

void bindEvents(py::module_& m) {
  py::class_<Connection>(m, "Connection", py::custom_type_setup([](PyHeapTypeObject* heap) {
                           PyTypeObject* type = &heap->ht_type;
                           type->tp_flags |= Py_TPFLAGS_HAVE_GC;
                           type->tp_traverse = [](PyObject* self, visitproc visit, void* arg) {
                             Py_VISIT(Py_TYPE(self));
                             if (Connection* c = connectionOf(self)) Py_VISIT(c->handler_.ptr());
                             return 0;
                           };
                           type->tp_clear = [](PyObject* self) {
                             if (Connection* c = connectionOf(self)) c->close();
                             return 0;
                           };
                         }),
                         "A handler connected to an object's events; closing it (or losing the last\n"
                         "reference to it) disconnects the handler.")
      .def("close", &Connection::close, "Disconnects the handler.")
      .def_property_readonly("connected", &Connection::connected)
      .def_property_readonly("handler", &Connection::handler)
      .def("__enter__", [](py::handle self) { return py::reinterpret_borrow<py::object>(self); })
      .def("__exit__", [](Connection& c, py::args) {
        c.close();
        return false;
      });

  m.def(
      "WithEvents",
      [](py::handle obj, py::object handler) {
        Object* o = Object::from(obj);
        if (!o) throw py::type_error("WithEvents needs a pressmark object");
        if (PyType_Check(handler.ptr())) handler = handler();
        const pm::ObjectRef& ref = o->use();
        try {
          return py::cast(new Connection(ref, std::move(handler)), py::return_value_policy::take_ownership);
        } catch (const pm::AutomationError& e) {
          raisePython(e);
        }
      },
      py::arg("obj"), py::arg("handler"),
      "Connects handler's On<Event> methods (OnJobStart, OnJobDone, ...) to the object's events.\n"
      "A class is instantiated first. Returns the connection; closing it or losing it disconnects.");
}

}  // namespace pmpy
