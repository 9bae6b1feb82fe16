#include "PyTypes.h"

namespace pmpy {

namespace {
PyTypes g;

py::handle keep(py::object o) {
  return o.release();
}
}  // namespace

const PyTypes& types() {
  return g;
}

void loadTypes() {
  py::module_ t = py::module_::import("pressmark._types");
  g.automationError = keep(t.attr("AutomationError"));
  g.memberNotFoundError = keep(t.attr("MemberNotFoundError"));
  g.null = keep(t.attr("Null"));
  g.nothing = keep(t.attr("Nothing"));
  g.missing = keep(t.attr("Missing"));
  g.errorValue = keep(t.attr("ErrorValue"));
  g.ref = keep(t.attr("Ref"));
  g.array = keep(t.attr("Array"));
  g.currencyScaled = keep(t.attr("_currency_scaled"));
  g.currency = keep(t.attr("_currency"));
  g.dateSerial = keep(t.attr("_date_serial"));
  g.date_ = keep(t.attr("_date"));
  g.memberFunction = keep(t.attr("_member_function"));
  g.lateFunction = keep(t.attr("_late_function"));
  g.decimal = keep(py::module_::import("decimal").attr("Decimal"));
  py::module_ dt = py::module_::import("datetime");
  g.datetime = keep(dt.attr("datetime"));
  g.date = keep(dt.attr("date"));
}

py::str text(std::string_view s) {
  PyObject* o = PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace");
  if (!o) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(o);
}

void setPythonError(const pm::AutomationError& e) {
  py::handle cls = e.number() == pm::basic::MemberNotSupported ? g.memberNotFoundError : g.automationError;
  try {
    py::object exc = cls(e.number(), text(e.source()), text(e.description()));
    PyErr_SetObject(cls.ptr(), exc.ptr());
  } catch (py::error_already_set& x) {
    x.restore();
  }
}

void raisePython(const pm::AutomationError& e) {
  setPythonError(e);
  throw py::error_already_set();
}

}  // namespace pmpy
