#include "component/document/AnnotWriter.h"

#include "component/document/Vocabulary.h"

namespace pm::annot {

namespace {

// One pass: a property object with the assignments between "Delay" True
// and False, handed to setProps. Returns false when setProps failed.
bool pass(const ObjectRef& annotation, const Props& props, bool strict) {
  ObjectRef bag;
  ignoreErrors([&] { bag = objectOf(call(annotation, "getProps")); });
  ignoreErrors([&] { let(bag, "Delay", true); });
  for (const auto& [name, value] : props) ignoreErrors([&] { let(bag, name, value); });
  ignoreErrors([&] { let(bag, "Delay", false); });
  if (strict) {
    call(annotation, "setProps", {Variant(bag)});
    return true;
  }
  return ignoreErrors([&] { call(annotation, "setProps", {Variant(bag)}); });
}

}  // namespace

void writeNew(Document& d, const Props& first, const Props& second, bool strict) {
  ObjectRef annotation;
  if (strict) {
    annotation = objectOf(call(d.objJSO, "addAnnot"));
  } else if (!ignoreErrors([&] { annotation = objectOf(call(d.objJSO, "addAnnot")); })) {
    return;  // nothing to write
  }
  pass(annotation, first, strict);
  pass(annotation, second, false);
}

Variant colourOr(Document& d, const Variant& colour, const char* name) {
  if (colour.isArray()) return colour;
  return get(objectOf(get(d.objJSO, "Color")), name);
}

Variant integers(std::initializer_list<double> values) {
  Array a({Bound{0, static_cast<int32_t>(values.size())}}, VT::Integer);
  int32_t i = 0;
  for (double v : values) a.set({i++}, Variant(v));
  return Variant(std::move(a));
}

bool hasText(const Variant& v) {
  return !Trim(CStr(v)).empty();
}

bool isZero(const Variant& v) {
  return Compare(v, Variant(int32_t(0))) == 0;
}
bool aboveZero(const Variant& v) {
  return Compare(v, Variant(int32_t(0))) > 0;
}

namespace {
Variant add(const Variant& v, int delta) {
  switch (v.type()) {
    case VT::Integer: {
      int32_t r = int32_t(v.asInteger()) + delta;
      if (r < -32768 || r > 32767) return Variant(r);  // Basic widens to Long
      return Variant(int16_t(r));
    }
    case VT::Long:
      return Variant(int32_t(int64_t(v.asLong()) + delta));
    case VT::Single:
      return Variant(float(v.asSingle() + float(delta)));
    case VT::Byte:
      return Variant(int16_t(int16_t(v.asByte()) + delta));
    case VT::Boolean:
      return Variant(int16_t((v.asBool() ? -1 : 0) + delta));
    case VT::Empty:
      return Variant(int16_t(delta));
    default:
      return Variant(CDbl(v) + delta);
  }
}
}  // namespace

Variant minusOne(const Variant& v) {
  return add(v, -1);
}
Variant plusOne(const Variant& v) {
  return add(v, 1);
}

double pageHeight(Document& d, const Variant& pageIndex) {
  ObjectRef page = objectOf(call(d.objPDDoc, "AcquirePage", {pageIndex}));
  ObjectRef size = objectOf(call(page, "GetSize"));
  return CDbl(get(size, "y"));
}

void requirePage(Document& d, const Variant& page) {
  int32_t count = CLng(get(d.objJSO, "NumPages"));
  double p = CDbl(page);
  if (!(p >= 1 && p <= count)) {
    raise(basic::InvalidProcedureCall, "Page " + CStr(page) + " is not in the document, which has " +
                                           std::to_string(count) + (count == 1 ? " page" : " pages"));
  }
}

void addTextNote(Document& d, const Note& n) {
  Props first{{"Type", Variant("Text")}, {"contents", n.text}};
  Props second;
  ignoreErrors([&] { second.emplace_back("State", Variant(vocab::NoteState(n.state))); });
  Variant index;
  ignoreErrors([&] {
    index = minusOne(n.page);
    second.emplace_back("Page", index);
  });
  second.emplace_back("Point", n.point);
  ignoreErrors([&] {
    double h = pageHeight(d, index);
    second.emplace_back("PopupRect", integers({0, h - 100, 200, h}));
  });
  second.emplace_back("Author", n.author);
  second.emplace_back("Subject", n.subject);
  ignoreErrors([&] { second.emplace_back("NoteIcon", Variant(vocab::NoteIcon(n.icon))); });
  ignoreErrors([&] { second.emplace_back("StrokeColor", colourOr(d, n.colour, "yellow")); });
  ignoreErrors([&] {
    if (hasText(n.name)) second.emplace_back("Name", n.name);
  });
  second.emplace_back("PopupOpen", n.popupOpen);
  second.emplace_back("Width", n.width);
  second.emplace_back("Lock", n.lock);
  second.emplace_back("ReadOnly", n.readOnly);
  second.emplace_back("opacity", Variant(n.transparent ? 0.5 : 1.0));
  writeNew(d, first, second, false);
}

void createFreeText(Document& d, const FreeText& t, bool strict) {
  if (strict) requirePage(d, t.page);
  Props first{{"Type", Variant("FreeText")}, {"contents", t.text}};
  Props second;
  second.emplace_back("Alignment", t.alignment);
  ignoreErrors([&] { second.emplace_back("StrokeColor", colourOr(d, t.colour, "black")); });
  ignoreErrors([&] { second.emplace_back("FillColor", colourOr(d, t.fillColour, "white")); });
  ignoreErrors([&] { second.emplace_back("TextFont", Variant(vocab::Font(t.font))); });
  second.emplace_back("TextSize", t.fontSize);
  ignoreErrors([&] { second.emplace_back("Page", minusOne(t.page)); });
  second.emplace_back("Rect", t.rect);
  second.emplace_back("Author", t.author);
  second.emplace_back("Subject", t.subject);
  ignoreErrors([&] {
    if (hasText(t.name)) second.emplace_back("Name", t.name);
  });
  second.emplace_back("Width", t.width);
  second.emplace_back("Lock", t.lock);
  second.emplace_back("ReadOnly", t.readOnly);
  ignoreErrors([&] {
    if (aboveZero(t.rotation)) second.emplace_back("Rotate", t.rotation);
  });
  second.emplace_back("opacity", t.opacity);
  writeNew(d, first, second, strict);
}

}  // namespace pm::annot
