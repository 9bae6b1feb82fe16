#include "component/document/FieldCreation.h"

#include "component/document/Vocabulary.h"

namespace pm {

Variant pageIndexOf(const Variant& page) {
  switch (page.type()) {
    case VT::Empty:
      return Variant(int16_t(-1));
    case VT::Byte:
    case VT::Integer: {
      int32_t n = int32_t(CInt(page)) - 1;
      if (n < -32768) raise(basic::Overflow);
      return Variant(int16_t(n));
    }
    case VT::Boolean:
      return Variant(int16_t(page.asBool() ? -2 : -1));
    case VT::Long: {
      int32_t n = page.asLong();
      if (n == INT32_MIN) raise(basic::Overflow);
      return Variant(n - 1);
    }
    case VT::Single:
      return Variant(float(page.asSingle() - 1));
    default:
      return Variant(CDbl(page) - 1);
  }
}

FieldCreation::FieldCreation(Document& d, Frame& f, const char* typeName) : d_(d), f_(f) {
  // A field that could not be added leaves nothing to set up: the caller
  // learns why instead of a silent return.
  passErrorsOn({}, [&] {
    Variant page = pageIndexOf(arg("lngPage"));
    field_ = objectOf(call(d_.objJSO, "addField", {arg("strName"), typeName, page, arg("varCoords")}));
  });
  if (!vocab::codeIs(arg("lngTrigger"), 10))
    ignoreErrors([&] { call(field_, "setAction", {vocab::FieldTrigger(arg("lngTrigger")), arg("strAction")}); });
  assignValue("Delay", Variant(true));
}

FieldCreation::~FieldCreation() {
  assignValue("Delay", Variant(false));
  field_.reset();
}

const Variant& FieldCreation::arg(std::string_view param) const {
  const auto& ps = f_.member().params;
  for (size_t i = 0; i < ps.size(); ++i)
    if (ps[i].name == param) return f_[i];
  // Only reached by a wrong name in this file's own tables.
  raise(basic::InternalError, "No parameter " + std::string(param));
}

void FieldCreation::assignValue(const char* prop, const Variant& v) {
  ignoreErrors([&] { let(field_, prop, v); });
}

void FieldCreation::assign(const char* prop, std::string_view param) {
  assignValue(prop, arg(param));
}

void FieldCreation::assignMapped(const char* prop, std::string (*map)(const Variant&), std::string_view param) {
  ignoreErrors([&] { let(field_, prop, Variant(map(arg(param)))); });
}

void FieldCreation::assignColour(const char* prop, std::string_view param, const char* defaultColour) {
  ignoreErrors([&] {
    const Variant& v = arg(param);
    if (v.isArray())
      let(field_, prop, v);
    else
      let(field_, prop, get(objectOf(get(d_.objJSO, "Color")), defaultColour));
  });
}

void FieldCreation::assignText(const char* prop, std::string_view param) {
  ignoreErrors([&] {
    if (!Trim(CStr(arg(param))).empty()) let(field_, prop, arg(param));
  });
}

void FieldCreation::assignPositive(const char* prop, std::string_view param) {
  ignoreErrors([&] {
    if (Compare(arg(param), Variant(int16_t(0))) > 0) let(field_, prop, arg(param));
  });
}

void FieldCreation::insertItems() {
  const Variant& values = arg("varValues");
  const Variant& exports = arg("varExportValues");
  if (!values.isArray()) return;
  int16_t n = 0;
  if (!ignoreErrors([&] {
        int32_t u = values.array().ubound(1);
        if (u > 32767) raise(basic::Overflow);
        n = static_cast<int16_t>(u);
      }))
    return;
  for (int32_t i = 0; i <= n; ++i) {
    ignoreErrors([&] {
      const Variant& shown = values.array().at({i});
      // An item past the end of a shorter export list keeps its display
      // text as export value rather than being left out.
      Variant exported = shown;
      if (exports.isArray()) {
        const Array& e = exports.array();
        if (e.dims() >= 1 && i >= e.lbound(1) && i <= e.ubound(1)) exported = e.at({i});
      }
      call(field_, "insertItemAt", {shown, exported, Variant(int16_t(-1))});
    });
  }
}

}  // namespace pm
