#include "Object.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

#include "Events.h"
#include "automation/ClassTables.h"
#if __has_include("component/document/Document.h")
#include "component/document/Document.h"
#endif
#include "PyTypes.h"
#include "Values.h"

namespace pmpy {

namespace {

using pm::Variant;

std::string_view utf8(py::handle s) {
  if (!PyUnicode_Check(s.ptr())) throw py::type_error("attribute name must be a string");
  Py_ssize_t n = 0;
  const char* p = PyUnicode_AsUTF8AndSize(s.ptr(), &n);
  if (!p) throw py::error_already_set();
  return {p, static_cast<size_t>(n)};
}

bool isDunder(std::string_view n) {
  return n.size() > 4 && n.starts_with("__") && n.ends_with("__");
}

[[noreturn]] void noSuchAttribute(std::string_view n) {
  PyErr_Format(PyExc_AttributeError, "'pressmark.Object' has no attribute '%.200s'", std::string(n).c_str());
  throw py::error_already_set();
}

const char* typeName(pm::VT t) {
  switch (t) {
    case pm::VT::Integer:
      return "Integer";
    case pm::VT::Long:
      return "Long";
    case pm::VT::Single:
      return "Single";
    case pm::VT::Double:
      return "Double";
    case pm::VT::Currency:
      return "Currency";
    case pm::VT::Date:
      return "Date";
    case pm::VT::String:
      return "String";
    case pm::VT::Object:
      return "Object";
    case pm::VT::Boolean:
      return "Boolean";
    case pm::VT::Byte:
      return "Byte";
    default:
      return "Variant";
  }
}

// Arguments of one call. The temporaries of by-reference arguments keep
// their addresses: the vector is sized before the first one is added.
struct Arguments {
  std::vector<Variant> temps;
  std::vector<Variant> originals;
  std::vector<py::handle> refs;
  std::vector<pm::Arg> args;

  void reserve(size_t n) {
    temps.reserve(n);
    args.reserve(n);
  }
  void add(py::handle item, std::string name) {
    const PyTypes& t = types();
    if (PyObject_IsInstance(item.ptr(), t.ref.ptr()) == 1) {
      temps.push_back(toVariant(item.attr("value")));
      originals.push_back(temps.back());
      refs.push_back(item);
      args.emplace_back(&temps.back(), std::move(name));
    } else if (name.empty()) {
      args.emplace_back(toVariant(item));
    } else {
      args.emplace_back(std::move(name), toVariant(item));
    }
  }
  // By-reference values a member changed go back to their Ref objects.
  void writeBack() {
    for (size_t i = 0; i < refs.size(); ++i)
      if (!(temps[i] == originals[i])) refs[i].attr("value") = toPython(temps[i]);
  }
};

bool hasRequired(const pm::MemberSpec& m) {
  return std::any_of(m.params.begin(), m.params.end(), [](const pm::ParamSpec& p) { return !p.optional; });
}

// Members of tables live as long as the process; their functions are made
// once and kept.
py::handle memberFunction(const pm::MemberSpec& m, py::handle call) {
  static std::unordered_map<const pm::MemberSpec*, py::handle> cache;
  auto it = cache.find(&m);
  if (it != cache.end()) return it->second;
  py::list params;
  for (const pm::ParamSpec& p : m.params) {
    py::object dflt = p.hasDefault ? toPython(p.def) : py::none();
    params.append(py::make_tuple(text(p.name), typeName(p.type), p.byRef, p.optional, p.hasDefault, dflt, p.isPath));
  }
  py::object f = types().memberFunction(text(m.name), static_cast<int>(m.kind), params, text(m.help), call);
  return cache[&m] = f.release();
}

py::handle lateFunction(std::string_view name, py::handle call) {
  static std::map<std::string, py::handle, std::less<>> cache;
  auto it = cache.find(name);
  if (it != cache.end()) return it->second;
  py::object f = types().lateFunction(text(name), call);
  return cache[std::string(name)] = f.release();
}

py::object bind(py::handle function, py::handle self) {
  PyObject* m = PyMethod_New(function.ptr(), self.ptr());
  if (!m) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(m);
}

py::handle g_call;  // the module's _call, which member functions call

// A call whose automation error comes back instead of being raised.
std::optional<Variant> tryGet(Object& self, std::string_view name, pm::AutomationError& error) {
  const pm::ObjectRef& obj = self.use();
  Variant r;
  bool failed = false;
  {
    CallScope scope;
    {
      py::gil_scoped_release nogil;
      try {
        r = obj->invoke(name, pm::Invoke::Get, {});
      } catch (...) {
        error = pm::currentAsAutomationError();
        failed = true;
      }
    }
    scope.raisePending();
  }
  if (failed) return std::nullopt;
  return r;
}

}  // namespace

Object::Object(pm::ObjectRef ref) : ref_(std::move(ref)), owner_(homeThread()) {}

Object::~Object() {
  if (ref_) releaseOn(owner_, [r = std::move(ref_)]() mutable { r.reset(); });
}

const pm::ObjectRef& Object::use() const {
  checkThread(owner_);
  runParked();
  return ref_;
}

namespace {
PyTypeObject* g_type = nullptr;

// What tells an object from others of its class in its repr: a document's
// file. (Built against an installed library, whose headers stop at the
// automation layer, the repr shows the class only.)
std::string describe([[maybe_unused]] const pm::Dispatch& d) {
#if __has_include("component/document/Document.h")
  if (auto* doc = dynamic_cast<const pm::Document*>(&d)) return doc->strDocumentPath;
#endif
  return {};
}

// The wrapped value of an instance already known to be an Object.
Object* valueOf(PyObject* self) {
  auto vh = reinterpret_cast<py::detail::instance*>(self)->get_value_and_holder();
  return vh.holder_constructed() ? vh.template holder<std::unique_ptr<Object>>().get() : nullptr;
}

Object& self(py::handle h) {
  Object* o = Object::from(h);
  if (!o) throw py::type_error("a pressmark object is needed");
  return *o;
}

// Attribute slots of their own: reads of members skip the generic lookup
// (and the AttributeError it would make) and pybind11's overload dispatch.
template <class Body>
auto guarded(Body&& body, decltype(body()) failed) -> decltype(body()) {
  try {
    return body();
  } catch (py::error_already_set& e) {
    e.restore();
  } catch (const pm::AutomationError& e) {
    try {
      raisePython(e);
    } catch (py::error_already_set& x) {
      x.restore();
    }
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  }
  return failed;
}

PyObject* getattro(PyObject* self, PyObject* name) {
  if (PyUnicode_Check(name) && PyUnicode_GET_LENGTH(name) > 1 && PyUnicode_READ_CHAR(name, 0) == '_' &&
      PyUnicode_READ_CHAR(name, 1) == '_')
    return PyObject_GenericGetAttr(self, name);
  return guarded([&]() -> PyObject* { return getAttribute(self, name).release().ptr(); }, nullptr);
}

int setattro(PyObject* self, PyObject* name, PyObject* value) {
  if (!value) {
    PyErr_SetString(PyExc_AttributeError, "members of a pressmark object cannot be deleted");
    return -1;
  }
  return guarded(
      [&]() -> int {
        setAttribute(self, name, value);
        return 0;
      },
      -1);
}
}  // namespace

Object* Object::from(py::handle h) {
  if (!g_type || !PyObject_TypeCheck(h.ptr(), g_type)) return nullptr;
  return valueOf(h.ptr());
}

py::object Object::wrap(pm::ObjectRef ref) {
  return py::cast(new Object(std::move(ref)), py::return_value_policy::take_ownership);
}

py::object invoke(Object& self, std::string_view name, pm::Invoke kind, py::handle args, py::handle kwargs) {
  const pm::ObjectRef& obj = self.use();
  Arguments a;
  size_t n = (args ? static_cast<size_t>(PyTuple_GET_SIZE(args.ptr())) : 0) +
             (kwargs ? static_cast<size_t>(PyDict_GET_SIZE(kwargs.ptr())) : 0);
  a.reserve(n);
  if (args)
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(args.ptr()); ++i) a.add(PyTuple_GET_ITEM(args.ptr(), i), {});
  if (kwargs) {
    PyObject *key, *value;
    Py_ssize_t pos = 0;
    while (PyDict_Next(kwargs.ptr(), &pos, &key, &value)) a.add(value, std::string(utf8(key)));
  }
  Variant r;
  std::optional<pm::AutomationError> error;
  {
    CallScope scope;
    {
      py::gil_scoped_release nogil;
      try {
        r = obj->invoke(name, kind, a.args);
      } catch (...) {
        error = pm::currentAsAutomationError();
      }
    }
    a.writeBack();
    scope.raisePending();
  }
  if (error) raisePython(*error);
  return toPython(r);
}

py::object getAttribute(py::handle selfObj, py::handle nameObj) {
  std::string_view name = utf8(nameObj);
  if (isDunder(name)) noSuchAttribute(name);
  Object& self = pmpy::self(selfObj);
  const pm::MemberTable* table = self.use()->memberTable();
  if (table) {
    const pm::MemberSpec* m = table->find(name, pm::Invoke::Method);
    if (m && (m->kind == pm::Invoke::Method || hasRequired(*m))) return bind(memberFunction(*m, g_call), selfObj);
    // A property (or a name without a get, which raises the right error).
    return invoke(self, name, pm::Invoke::Get, {}, {});
  }
  // No member table: ask for a property; a member that wants arguments is
  // handed out as a method.
  pm::AutomationError error(0, "", "");
  if (auto v = tryGet(self, name, error)) return toPython(*v);
  if (error.number() == pm::basic::ArgumentNotOptional || error.number() == pm::basic::WrongArgumentCount)
    return bind(lateFunction(name, g_call), selfObj);
  raisePython(error);
}

void setAttribute(py::handle selfObj, py::handle nameObj, py::handle value) {
  std::string_view name = utf8(nameObj);
  if (isDunder(name)) noSuchAttribute(name);
  Object& self = pmpy::self(selfObj);
  bool object = Object::from(value) || value.ptr() == types().nothing.ptr();
  py::tuple args = py::make_tuple(value);
  invoke(self, name, object ? pm::Invoke::Set : pm::Invoke::Let, args, {});
}

py::list memberNames(py::handle selfObj) {
  Object& self = pmpy::self(selfObj);
  py::list out;
  std::vector<std::string> names;
  if (const pm::MemberTable* t = self.use()->memberTable()) {
    for (const pm::MemberSpec& m : t->members()) {
      std::string lower = pm::LCase(m.name);
      bool seen = std::any_of(names.begin(), names.end(), [&](const std::string& n) { return pm::LCase(n) == lower; });
      if (!seen) names.push_back(m.name);
    }
  }
  auto folded = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  std::sort(names.begin(), names.end(),
            [&](const std::string& a, const std::string& b) { return folded(a) < folded(b); });
  for (const std::string& n : names) out.append(text(n));
  return out;
}

void bindObject(py::module_& m) {
  py::class_<Object>(m, "Object", py::custom_type_setup([](PyHeapTypeObject* heap) {
                       heap->ht_type.tp_getattro = getattro;
                       heap->ht_type.tp_setattro = setattro;
                     }),
                     "An object of the component, called late-bound by member name.\n\n"
                     "Reading an attribute reads a property or gives a method; assigning one\n"
                     "assigns a property. Names are case-insensitive; dir() lists the members.")
      .def("__dir__", [](py::handle self) { return memberNames(self); })
      .def("__repr__",
           [](const Object& self) {
             std::string r = "<pressmark.Object " + (self.ref() ? self.ref()->typeName() : std::string("Nothing"));
             // Objects of other threads are not touched beyond their type name.
             if (self.ref() && self.owner() == std::this_thread::get_id()) {
               std::string what = describe(*self.ref());
               if (!what.empty()) r += " " + std::string(py::str(py::repr(text(what))));
             }
             return r + ">";
           })
      .def("__eq__",
           [](const Object& a, py::handle b) {
             Object* o = Object::from(b);
             return o && o->ref() == a.ref();
           })
      .def("__hash__", [](const Object& a) { return std::hash<const void*>()(a.ref().get()); });

  m.def(
      "_call",
      [](py::handle self, py::handle name, int kind, py::handle args, py::handle kwargs) {
        return invoke(pmpy::self(self), utf8(name), static_cast<pm::Invoke>(kind), args,
                      kwargs && PyDict_GET_SIZE(kwargs.ptr()) ? kwargs : py::handle());
      },
      "Calls a member: object, name, kind (1 method, 2 get, 4 let, 8 set), args tuple, kwargs dict.");
  m.def(
      "_tables",
      [] {
        // Every class's member table, for the type stubs made at build time.
        py::list out;
        for (const pm::MemberTable* t : pm::classTables()) {
          py::list members, events;
          for (const pm::MemberSpec& s : t->members()) {
            py::list params;
            for (const pm::ParamSpec& p : s.params) {
              py::object dflt = p.hasDefault ? toPython(p.def) : py::none();
              params.append(
                  py::make_tuple(text(p.name), typeName(p.type), p.byRef, p.optional, p.hasDefault, dflt, p.isPath));
            }
            members.append(py::make_tuple(text(s.name), static_cast<int>(s.kind), params, text(s.help)));
          }
          for (const pm::EventSpec& e : t->events()) {
            py::list params;
            for (const pm::ParamSpec& p : e.params) params.append(text(p.name));
            events.append(py::make_tuple(text(e.name), params));
          }
          out.append(py::make_tuple(text(t->className()), members, events));
        }
        return out;
      },
      "The member tables of every class: (class, members, events); a member is (name, kind, params, help).");
  g_call = py::object(m.attr("_call")).release();
  g_type = reinterpret_cast<PyTypeObject*>(m.attr("Object").ptr());
}

}  // namespace pmpy
