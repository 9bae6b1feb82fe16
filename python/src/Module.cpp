// The extension module behind `import pressmark`: creation of objects by
// ProgID or class id, the object wrapper, events and the call helpers.
#include <pybind11/pybind11.h>

#include <optional>

#include "Events.h"
#include "Object.h"
#include "PyTypes.h"
#include "Values.h"
#include "pressmark/pressmark.h"

namespace py = pybind11;
using namespace pmpy;

namespace {

pm::ObjectRef create(const std::string& name, bool active) {
  pm::ObjectRef o;
  std::optional<pm::AutomationError> error;
  {
    py::gil_scoped_release nogil;
    runParked();
    try {
      o = active ? pm::GetActiveObject(name) : pressmark::create(name);
    } catch (...) {
      error = pm::currentAsAutomationError();
    }
  }
  if (error) raisePython(*error);
  return o;
}

Object& target(py::handle obj) {
  Object* o = Object::from(obj);
  if (!o) throw py::type_error("a pressmark object is needed");
  return *o;
}

std::string_view nameOf(py::handle n) {
  Py_ssize_t size = 0;
  const char* p = PyUnicode_Check(n.ptr()) ? PyUnicode_AsUTF8AndSize(n.ptr(), &size) : nullptr;
  if (!p) throw py::type_error("a member name must be a string");
  return {p, static_cast<size_t>(size)};
}

py::object byKind(pm::Invoke kind, py::handle obj, py::handle name, py::args args, py::kwargs kwargs) {
  return invoke(target(obj), nameOf(name), kind, args, PyDict_GET_SIZE(kwargs.ptr()) ? kwargs : py::handle());
}

}  // namespace

PYBIND11_MODULE(_pressmark, m) {
  m.doc() = "The Pressmark component for Python (the extension behind the pressmark package).";
  loadTypes();
  // Automation errors raised while arguments are converted (or anywhere
  // outside a member call) reach Python as AutomationError too.
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const pm::AutomationError& e) {
      setPythonError(e);
    }
  });
  bindObject(m);
  bindEvents(m);

  m.def(
      "Dispatch", [](const std::string& name) { return Object::wrap(create(name, false)); }, py::arg("progid"),
      "Creates an object by ProgID (\"Pressmark.CreatePDF\", \"AcroExch.App\", ...) or class id (\"{...}\").");
  m.def(
      "CreatePDF", [] { return Object::wrap(create("Pressmark.CreatePDF", false)); },
      "A new Pressmark.CreatePDF object.");
  m.def(
      "GetActiveObject", [](const std::string& name) { return Object::wrap(create(name, true)); }, py::arg("progid"),
      "The running object announced under the ProgID (error 429 when none runs).");
  m.def(
      "call",
      [](py::handle obj, py::handle name, py::args a, py::kwargs k) {
        return byKind(pm::Invoke::Method, obj, name, a, k);
      },
      "call(obj, name, *args, **named): calls a method by name.");
  m.def(
      "get",
      [](py::handle obj, py::handle name, py::args a, py::kwargs k) {
        return byKind(pm::Invoke::Get, obj, name, a, k);
      },
      "get(obj, name, *index, **named): reads a property, with index arguments if it takes them.");
  m.def(
      "let",
      [](py::handle obj, py::handle name, py::args a, py::kwargs k) {
        return byKind(pm::Invoke::Let, obj, name, a, k);
      },
      "let(obj, name, *index, value): assigns a property; the value is the last argument.");
  m.def(
      "set",
      [](py::handle obj, py::handle name, py::args a, py::kwargs k) {
        return byKind(pm::Invoke::Set, obj, name, a, k);
      },
      "set(obj, name, *index, object): assigns an object property; the object is the last argument.");
  m.def(
      "_convert",
      [](py::handle value, int vartype) {
        try {
          pm::Variant v = toVariant(value);
          if (vartype != static_cast<int>(pm::VT::Variant)) v = pm::coerce(v, static_cast<pm::VT>(vartype));
          return toPython(v);
        } catch (const pm::AutomationError& e) {
          raisePython(e);
        }
      },
      py::arg("value"), py::arg("vartype") = 12,
      "The value as the component holds it, converted to the type as Basic's CInt, CLng, ... do (12: as it is).");
  m.def(
      "typename", [](py::handle obj) { return text(target(obj).use()->typeName()); },
      "The class name of the object (TypeName in Basic).");
}
