#include "Values.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>
#include <vector>

#include "Object.h"
#include "PyTypes.h"
#include "automation/Error.h"

namespace pmpy {

namespace {

using pm::Variant;
using pm::VT;

bool isSequence(py::handle h) {
  return (PyList_Check(h.ptr()) || PyTuple_Check(h.ptr())) && !PyObject_IsInstance(h.ptr(), types().array.ptr());
}

Py_ssize_t seqSize(py::handle h) {
  return PySequence_Fast_GET_SIZE(h.ptr());
}
py::handle seqItem(py::handle h, Py_ssize_t i) {
  return PySequence_Fast_GET_ITEM(h.ptr(), i);
}

// Nesting past these bounds is refused before it exhausts the stack (the
// conversion and the values' destructors recurse) or memory: an array has
// at most 60 dimensions, as Basic allows, and arrays nest at most 256 deep.
constexpr size_t kMaxDims = 60;
constexpr size_t kMaxNesting = 256;

[[noreturn]] void containsItself() {
  pm::raise(pm::basic::InvalidProcedureCall,
            "Invalid procedure call or argument: a list that contains itself has no automation value");
}

// The lists being converted on this thread, outermost first.
thread_local std::vector<PyObject*> tPath;

[[noreturn]] void badShape() {
  pm::raise(pm::basic::SubscriptOutOfRange, "Subscript out of range: the nested lists do not match the array's shape");
}

// Walks nested lists level by level: a level is one more dimension when
// every list on it is a list of lists of one length.
std::vector<int32_t> inferShape(py::handle root) {
  std::vector<int32_t> shape{static_cast<int32_t>(seqSize(root))};
  std::vector<py::handle> level{root};
  // A list met again on a deeper level would have to be deeper than itself:
  // it contains itself.
  std::unordered_set<PyObject*> above{root.ptr()};
  while (true) {
    std::vector<py::handle> next;
    Py_ssize_t width = -1;
    bool deeper = shape.back() > 0;
    for (py::handle node : level) {
      for (Py_ssize_t i = 0; deeper && i < seqSize(node); ++i) {
        py::handle child = seqItem(node, i);
        if (!isSequence(child) || (width >= 0 && seqSize(child) != width)) {
          deeper = false;
          break;
        }
        width = seqSize(child);
        next.push_back(child);
      }
    }
    if (!deeper || width < 0) return shape;
    for (py::handle n : next)
      if (above.count(n.ptr())) containsItself();
    for (py::handle n : next) above.insert(n.ptr());
    if (shape.size() >= kMaxDims)
      pm::raise(pm::basic::InvalidProcedureCall, "Invalid procedure call or argument: nested lists make more than " +
                                                     std::to_string(kMaxDims) + " dimensions");
    shape.push_back(static_cast<int32_t>(width));
    level = std::move(next);
  }
}

// Stores the leaves of nested lists: the first index is the outermost list
// and varies fastest in storage.
void fill(pm::Array& a, py::handle node, size_t depth, std::vector<int32_t>& index) {
  const auto& bounds = a.bounds();
  if (!PyList_Check(node.ptr()) && !PyTuple_Check(node.ptr())) badShape();
  if (seqSize(node) != bounds[depth].count) badShape();
  for (int32_t i = 0; i < bounds[depth].count; ++i) {
    index[depth] = bounds[depth].lower + i;
    py::handle item = seqItem(node, i);
    if (depth + 1 == bounds.size())
      a.set(index.data(), index.size(), toVariant(item));
    else
      fill(a, item, depth + 1, index);
  }
}

Variant arrayOf(py::handle h, std::vector<pm::Bound> bounds, VT elementType) {
  pm::Array a(std::move(bounds), elementType);
  if (a.dims() == 0) return Variant(std::move(a));
  bool empty = false;
  for (const pm::Bound& b : a.bounds()) empty |= b.count == 0;
  if (empty) {
    if (seqSize(h) != a.bounds()[0].count) badShape();
    return Variant(std::move(a));
  }
  std::vector<int32_t> index(a.bounds().size());
  fill(a, h, 0, index);
  return Variant(std::move(a));
}

int32_t toInt32(py::handle h) {
  long long v = PyLong_AsLongLong(h.ptr());
  if (v == -1 && PyErr_Occurred()) throw py::error_already_set();
  if (v < INT32_MIN || v > INT32_MAX) pm::raise(pm::basic::Overflow);
  return static_cast<int32_t>(v);
}

Variant fromInt(py::handle h) {
  int overflow = 0;
  long long v = PyLong_AsLongLongAndOverflow(h.ptr(), &overflow);
  if (v == -1 && PyErr_Occurred()) throw py::error_already_set();
  if (!overflow && v >= INT32_MIN && v <= INT32_MAX) return Variant(static_cast<int32_t>(v));
  // Beyond Long a number is a Double, exactly while it fits the mantissa.
  constexpr long long kExact = 1LL << 53;
  if (!overflow && v >= -kExact && v <= kExact) return Variant(static_cast<double>(v));
  pm::raise(pm::basic::Overflow, "Overflow: an integer beyond 2**53 has no exact automation value");
}

py::object arrayToPython(const pm::Array& a) {
  const PyTypes& t = types();
  const auto& bounds = a.bounds();
  if (a.elementType() == VT::Byte && a.dims() == 1 && bounds[0].lower == 0) {
    std::string bytes;
    bytes.reserve(a.size());
    for (const Variant& v : a.data()) bytes.push_back(static_cast<char>(v.asByte()));
    return py::bytes(bytes);
  }
  py::tuple lbounds(bounds.size()), shape(bounds.size());
  for (size_t d = 0; d < bounds.size(); ++d) {
    lbounds[d] = py::int_(bounds[d].lower);
    shape[d] = py::int_(bounds[d].count);
  }
  // Build the nested lists from storage (first index fastest).
  std::vector<size_t> stride(bounds.size(), 1);
  for (size_t d = 1; d < bounds.size(); ++d) stride[d] = stride[d - 1] * static_cast<size_t>(bounds[d - 1].count);
  std::function<py::list(size_t, size_t)> build = [&](size_t depth, size_t base) {
    py::list l(bounds[depth].count);
    for (int32_t i = 0; i < bounds[depth].count; ++i) {
      size_t off = base + static_cast<size_t>(i) * stride[depth];
      if (depth + 1 == bounds.size())
        l[i] = toPython(a.data()[off]);
      else
        l[i] = build(depth + 1, off);
    }
    return l;
  };
  py::list items = bounds.empty() ? py::list() : build(0, 0);
  return t.array(items, py::arg("lbounds") = lbounds, py::arg("vartype") = static_cast<int>(a.elementType()),
                 py::arg("shape") = shape);
}

}  // namespace

Variant toVariant(py::handle h) {
  PyObject* o = h.ptr();
  const PyTypes& t = types();
  if (o == Py_None) return Variant();
  if (PyBool_Check(o)) return Variant(o == Py_True);
  if (PyLong_Check(o)) return fromInt(h);
  if (PyFloat_Check(o)) return Variant(PyFloat_AS_DOUBLE(o));
  if (PyUnicode_Check(o)) {
    Py_ssize_t n = 0;
    const char* s = PyUnicode_AsUTF8AndSize(o, &n);
    if (!s) throw py::error_already_set();
    return Variant(std::string(s, static_cast<size_t>(n)));
  }
  if (Object* w = Object::from(h)) return Variant(w->use());
  if (o == t.null.ptr()) return Variant::null();
  if (o == t.nothing.ptr()) return Variant::nothing();
  if (PyObject_IsInstance(o, t.errorValue.ptr()) == 1) return Variant(pm::ErrorCode{toInt32(h.attr("scode"))});
  if (PyObject_IsInstance(o, t.decimal.ptr()) == 1) {
    py::object scaled = t.currencyScaled(h);
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(scaled.ptr(), &overflow);
    if (overflow) pm::raise(pm::basic::Overflow);
    return Variant(pm::Currency{v});
  }
  if (PyObject_IsInstance(o, t.date.ptr()) == 1) return Variant(pm::Date{t.dateSerial(h).cast<double>()});
  if (PyBytes_Check(o) || PyByteArray_Check(o)) {
    std::string bytes = PyBytes_Check(o)
                            ? std::string(PyBytes_AS_STRING(o), static_cast<size_t>(PyBytes_GET_SIZE(o)))
                            : std::string(PyByteArray_AS_STRING(o), static_cast<size_t>(PyByteArray_GET_SIZE(o)));
    pm::Array a({pm::Bound{0, static_cast<int32_t>(bytes.size())}}, VT::Byte);
    for (size_t i = 0; i < bytes.size(); ++i) a.data()[i] = Variant(static_cast<uint8_t>(bytes[i]));
    return Variant(std::move(a));
  }
  // A file name may come as a pathlib.Path or any os.PathLike.
  if (PyObject_HasAttrString(reinterpret_cast<PyObject*>(Py_TYPE(o)), "__fspath__")) {
    py::object path = py::reinterpret_steal<py::object>(PyOS_FSPath(o));
    if (!path) throw py::error_already_set();
    if (PyBytes_Check(path.ptr())) path = py::module_::import("os").attr("fsdecode")(path);
    return toVariant(path);
  }
  if (PyObject_IsInstance(o, t.array.ptr()) == 1) {
    py::tuple lb = h.attr("lbounds"), shape = h.attr("shape");
    std::vector<pm::Bound> bounds;
    for (size_t d = 0; d < lb.size(); ++d) bounds.push_back(pm::Bound{toInt32(lb[d]), toInt32(shape[d])});
    return arrayOf(h, std::move(bounds), static_cast<VT>(toInt32(h.attr("vartype"))));
  }
  if (PyList_Check(o) || PyTuple_Check(o)) {
    if (std::find(tPath.begin(), tPath.end(), o) != tPath.end()) containsItself();
    if (tPath.size() >= kMaxNesting)
      pm::raise(pm::basic::InvalidProcedureCall, "Invalid procedure call or argument: lists nested more than " +
                                                     std::to_string(kMaxNesting) + " levels deep");
    tPath.push_back(o);
    struct Leave {
      ~Leave() { tPath.pop_back(); }
    } leave;
    std::vector<pm::Bound> bounds;
    for (int32_t n : inferShape(h)) bounds.push_back(pm::Bound{0, n});
    return arrayOf(h, std::move(bounds), VT::Variant);
  }
  if (PyObject_IsInstance(o, t.ref.ptr()) == 1)
    pm::raise(pm::basic::TypeMismatch, "Type mismatch: pressmark.Ref is passed only as an argument of its own");
  pm::raise(pm::basic::TypeMismatch,
            std::string("Type mismatch: a Python ") + Py_TYPE(o)->tp_name + " has no automation value");
}

py::object toPython(const Variant& v) {
  const PyTypes& t = types();
  switch (v.type()) {
    case VT::Empty:
      return py::none();
    case VT::Null:
      return py::reinterpret_borrow<py::object>(t.null);
    case VT::Boolean:
      return py::bool_(v.asBool());
    case VT::Integer:
      return py::int_(v.asInteger());
    case VT::Long:
      return py::int_(v.asLong());
    case VT::Byte:
      return py::int_(v.asByte());
    case VT::Single:
      return py::float_(v.asSingle());
    case VT::Double:
      return py::float_(v.asDouble());
    case VT::Currency:
      return t.currency(py::int_(static_cast<long long>(v.asCurrency().scaled)));
    case VT::Date:
      return t.date_(py::float_(v.asDate().serial));
    case VT::String:
      return text(v.asString());
    case VT::Object:
      return v.asObject() ? Object::wrap(v.asObject()) : py::none();
    case VT::Error:
      if (v.asError().scode == pm::kParamNotFound) return py::reinterpret_borrow<py::object>(t.missing);
      return t.errorValue(v.asError().scode);
    case VT::Array:
      return arrayToPython(v.array());
    default:
      break;
  }
  pm::raise(pm::basic::TypeMismatch);
}

}  // namespace pmpy
