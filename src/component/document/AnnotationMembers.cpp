// Annotations of Document: notes, comments, stamps and free-text boxes, the
// list and removal of a page's annotations, and the properties of a named
// note or free-text box as a record.
#include "component/document/AnnotWriter.h"
#include "component/document/Document.h"
#include "component/document/FreeTextAnnotType.h"
#include "component/document/TextAnnotType.h"
#include "component/document/Vocabulary.h"

namespace pm {
namespace {

using annot::Props;

// The note members share everything up to the order of their last
// properties. A note on a page outside the document is refused before
// anything is made; once the annotation exists, a property that fails is
// skipped.
enum class NoteKind { Text, Comment };

void createNote(Document& d, Frame& f, NoteKind kind) {
  annot::requirePage(d, f["lngPage"]);
  Variant index = annot::minusOne(f["lngPage"]);
  double h = annot::pageHeight(d, index);
  Props first{{"Type", Variant("Text")}, {"contents", f[kind == NoteKind::Text ? "strText" : "strComment"]}};
  Props second;
  ignoreErrors([&] { second.emplace_back("State", Variant(vocab::NoteState(f["lngNoteState"]))); });
  second.emplace_back("Page", index);
  ignoreErrors([&] {
    second.emplace_back("Point", annot::integers({CDbl(f["intLeftMargin"]), h - CDbl(f["intTopMargin"])}));
  });
  ignoreErrors([&] { second.emplace_back("PopupRect", annot::integers({0, h - 100, 200, h})); });
  second.emplace_back("Author", f["strAuthor"]);
  second.emplace_back("Subject", f["strSubject"]);
  ignoreErrors([&] { second.emplace_back("NoteIcon", Variant(vocab::NoteIcon(f["lngNoteIcon"]))); });
  ignoreErrors([&] { second.emplace_back("StrokeColor", annot::colourOr(d, f["varColor"], "yellow")); });
  ignoreErrors([&] {
    if (annot::hasText(f["strName"])) second.emplace_back("Name", f["strName"]);
  });
  if (kind == NoteKind::Text) {
    second.emplace_back("PopupOpen", f["blnPopupOpen"]);
    second.emplace_back("Width", f["intBorderWidth"]);
    second.emplace_back("Lock", f["blnLock"]);
    second.emplace_back("ReadOnly", f["blnReadOnly"]);
  } else {
    second.emplace_back("Lock", f["blnLock"]);
    second.emplace_back("ReadOnly", f["blnReadOnly"]);
    second.emplace_back("PopupOpen", f["blnPopupOpen"]);
    second.emplace_back("Width", f["intBorderWidth"]);
  }
  second.emplace_back("opacity", f["sngOpacity"]);
  annot::writeNew(d, first, second, true);
}

Variant CreateTextAnnot(Document& d, Frame& f) {
  createNote(d, f, NoteKind::Text);
  return {};
}
Variant CreateComment(Document& d, Frame& f) {
  createNote(d, f, NoteKind::Comment);
  return {};
}

Variant CreateStampAnnot(Document& d, Frame& f) {
  annot::requirePage(d, f["lngPage"]);
  Variant index = annot::minusOne(f["lngPage"]);
  double h = annot::pageHeight(d, index);
  Props first{{"Type", Variant("Stamp")}, {"contents", f["strText"]}};
  Props second;
  second.emplace_back("Page", index);
  second.emplace_back("Rect", f["varRectangle"]);
  ignoreErrors([&] { second.emplace_back("PopupRect", annot::integers({0, h - 100, 200, h})); });
  second.emplace_back("Author", f["strAuthor"]);
  second.emplace_back("Subject", f["strSubject"]);
  ignoreErrors([&] { second.emplace_back("AP", Variant(vocab::StampIcon(f["lngStampIcon"]))); });
  ignoreErrors([&] { second.emplace_back("StrokeColor", annot::colourOr(d, f["varColor"], "red")); });
  ignoreErrors([&] {
    if (annot::hasText(f["strName"])) second.emplace_back("Name", f["strName"]);
  });
  second.emplace_back("PopupOpen", f["blnPopupOpen"]);
  second.emplace_back("Lock", f["blnLock"]);
  second.emplace_back("ReadOnly", f["blnReadOnly"]);
  annot::writeNew(d, first, second, true);
  return {};
}

Variant CreateFreeTextAnnot(Document& d, Frame& f) {
  annot::FreeText t{f["lngPage"],     f["varRectangle"],   f["strText"],      f["varColor"],
                    f["strAuthor"],   f["strSubject"],     f["strName"],      f["blnLock"],
                    f["blnReadOnly"], f["lngAlignment"],   f["varFillColor"], f["lngFont"],
                    f["intFontSize"], f["intBorderWidth"], f["lngRotation"],  f["sngOpacity"]};
  annot::createFreeText(d, t, true);
  return {};
}

// ---- Lists ----
// A page without annotations answers no list: that is an empty one.
std::vector<ObjectRef> annotationsOf(Document& d, bool onePage, const Variant& page) {
  call(d.objJSO, "syncAnnotScan");
  Variant list = onePage ? call(d.objJSO, "getAnnots", {annot::minusOne(page)}) : call(d.objJSO, "getAnnots");
  std::vector<ObjectRef> out;
  if (!list.isArray()) return out;
  const Array& a = list.array();
  for (int32_t i = a.lbound(); i <= a.ubound(); ++i) out.push_back(objectOf(a.at({i})));
  return out;
}

Variant GetAnnotations(Document& d, Frame& f) {
  return passErrorsOn({}, [&] {
    std::vector<ObjectRef> list = annotationsOf(d, !annot::isZero(f["lngPage"]), f["lngPage"]);
    std::vector<Variant> names;
    for (const ObjectRef& a : list) names.push_back(get(objectOf(call(a, "getProps")), "Name"));
    int32_t n = static_cast<int32_t>(names.size());
    f["varAnnots"] = Variant(Array::vector(std::move(names)));
    return Variant(n);
  });
}

Variant RemoveAnnotations(Document& d, Frame& f) {
  return passErrorsOn({}, [&] {
    // A negative page is no page at all; it must not stand for every page.
    if (Compare(f["lngPage"], Variant(int32_t(0))) < 0)
      raise(basic::InvalidProcedureCall, "Page " + CStr(f["lngPage"]) + " is not a page number: nothing was removed");
    std::vector<ObjectRef> list = annotationsOf(d, annot::aboveZero(f["lngPage"]), f["lngPage"]);
    int32_t n = 0;
    for (const ObjectRef& a : list) {
      call(a, "destroy");
      ++n;
    }
    return Variant(n);
  });
}

// ---- Records ----
ObjectRef lookUp(Document& d, const Variant& name, const Variant& page) {
  return passErrorsOn({}, [&] {
    Variant a = call(d.objJSO, "GetAnnot", {annot::minusOne(page), name});
    if (!a.isObject() || !a.asObject())
      raise(basic::ObjectRequired, "No annotation named \"" + CStr(name) + "\" on page " + CStr(page));
    return objectOf(call(a.asObject(), "getProps"));
  });
}

// The review state is a name on the annotation and a code in the record.
int16_t stateCode(const Variant& v) {
  if (v.isString()) {
    for (int16_t code = 1; code <= 4; ++code)
      if (TextEquals(vocab::NoteState(Variant(code)), v.asString())) return code;
    return 0;
  }
  return CInt(v);
}

void fill(AnnotRecord& r, const std::vector<RecordField>& fields, const ObjectRef& props) {
  for (const RecordField& fl : fields) {
    ignoreErrors([&] {
      Variant v = get(props, fl.name);
      if (std::string_view(fl.name) == "State") v = Variant(stateCode(v));
      r.store(fl.name, v);
    });
  }
}

void write(Document& d, Frame& f, const std::vector<RecordField>& fields) {
  ObjectRef annotation;
  passErrorsOn({}, [&] {
    Variant a = call(d.objJSO, "GetAnnot", {annot::minusOne(f["lngPage"]), f["strName"]});
    if (!a.isObject() || !a.asObject())
      raise(basic::ObjectRequired, "No annotation named \"" + CStr(f["strName"]) + "\" on page " + CStr(f["lngPage"]));
    annotation = a.asObject();
    objectOf(call(annotation, "getProps"));
  });
  ObjectRef record = objectOf(f["fldt"]);
  auto pass = [&](bool contentsOnly) {
    ObjectRef bag;
    ignoreErrors([&] { bag = objectOf(call(annotation, "getProps")); });
    ignoreErrors([&] { let(bag, "Delay", true); });
    for (const RecordField& fl : fields) {
      bool isContents = std::string_view(fl.name) == "contents";
      if (isContents != contentsOnly) continue;
      ignoreErrors([&] {
        Variant v = get(record, fl.name);
        if (std::string_view(fl.name) == "State") v = Variant(vocab::NoteState(v));
        let(bag, fl.name, v);
      });
    }
    ignoreErrors([&] { let(bag, "Delay", false); });
    ignoreErrors([&] { call(annotation, "setProps", {Variant(bag)}); });
  };
  pass(true);
  pass(false);
}

Variant GetTextAnnotProperties(Document& d, Frame& f) {
  ObjectRef props = lookUp(d, f["strName"], f["lngPage"]);
  auto r = std::make_shared<TextAnnotType>();
  fill(*r, TextAnnotType::fields(), props);
  return Variant(ObjectRef(r));
}
Variant SetTextAnnotProperties(Document& d, Frame& f) {
  write(d, f, TextAnnotType::fields());
  return {};
}
Variant GetFreeTextAnnotProperties(Document& d, Frame& f) {
  ObjectRef props = lookUp(d, f["strName"], f["lngPage"]);
  auto r = std::make_shared<FreeTextAnnotType>();
  fill(*r, FreeTextAnnotType::fields(), props);
  return Variant(ObjectRef(r));
}
Variant SetFreeTextAnnotProperties(Document& d, Frame& f) {
  write(d, f, FreeTextAnnotType::fields());
  return {};
}

ParamSpec named(const char* n, Variant def) {
  return P(n).opt(std::move(def));
}

void describe(Members<Document>& m) {
  auto noteParams = [](const char* text, int32_t icon) {
    return std::vector<ParamSpec>{P("lngPage"),
                                  P(text),
                                  named("varColor", Variant::nothing()),
                                  named("strAuthor", std::string()),
                                  named("strSubject", std::string()),
                                  named("intLeftMargin", int16_t(0)),
                                  named("intTopMargin", int16_t(0)),
                                  named("lngNoteIcon", icon),
                                  named("strName", std::string()),
                                  named("blnLock", false),
                                  named("blnReadOnly", false),
                                  named("blnPopupOpen", false),
                                  named("lngNoteState", int32_t(0)),
                                  named("intBorderWidth", int16_t(1)),
                                  named("sngOpacity", 1.0f)};
  };
  m.method("CreateTextAnnot", noteParams("strText", 8), &CreateTextAnnot,
           "Create a text annotation. A page that is not in the document raises invalid procedure call (5) and "
           "makes nothing.")
      .method("CreateComment", noteParams("strComment", 2), &CreateComment,
              "Create a comment annotation. A page that is not in the document raises invalid procedure call (5) "
              "and makes nothing.")
      .method(
          "CreateStampAnnot",
          {P("lngPage"), P("varRectangle"), P("strText"), named("varColor", Variant::nothing()),
           named("strAuthor", std::string()), named("strSubject", std::string()), named("intLeftMargin", int16_t(0)),
           named("intTopMargin", int16_t(0)), named("lngStampIcon", int32_t(0)), named("strName", std::string()),
           named("blnLock", false), named("blnReadOnly", false), named("blnPopupOpen", false)},
          &CreateStampAnnot,
          "Create a stamp annotation. A page that is not in the document raises invalid procedure call (5) and "
          "makes nothing.")
      .method(
          "CreateFreeTextAnnot",
          {P("lngPage"), P("varRectangle"), P("strText"), named("varColor", Variant::nothing()),
           named("strAuthor", std::string()), named("strSubject", std::string()), named("strName", std::string()),
           named("blnLock", false), named("blnReadOnly", false), named("lngAlignment", int32_t(0)),
           named("varFillColor", Variant::nothing()), named("lngFont", int32_t(0)), named("intFontSize", int16_t(8)),
           named("intBorderWidth", int16_t(1)), named("lngRotation", int32_t(0)), named("sngOpacity", 1.0f)},
          &CreateFreeTextAnnot,
          "Create a free text annotation. A page that is not in the document raises invalid procedure call (5) "
          "and makes nothing.")
      .method("GetAnnotations", {P("varAnnots"), named("lngPage", int32_t(0))}, &GetAnnotations,
              "Gets an array of annot objects (their names). A page without annotations gives 0 and an empty "
              "array.")
      .method("RemoveAnnotations", {named("lngPage", int32_t(0))}, &RemoveAnnotations,
              "Remove annotations in document. A page of 0 removes them from every page; a negative page raises "
              "invalid procedure call (5) and removes nothing.")
      .method("GetTextAnnotProperties", {P("strName"), P("lngPage")}, &GetTextAnnotProperties,
              "Get text annotation properties.")
      .method("SetTextAnnotProperties", {P("strName"), P("lngPage"), P("fldt")}, &SetTextAnnotProperties,
              "Set text annotation properties.")
      .method("GetFreeTextAnnotProperties", {P("strName"), P("lngPage")}, &GetFreeTextAnnotProperties,
              "Get free text annotation properties.")
      .method("SetFreeTextAnnotProperties", {P("strName"), P("lngPage"), P("fldt")}, &SetFreeTextAnnotProperties,
              "Set free text annotation properties.");
}

const DocumentMembers::Register reg("annotations", &describe);

}  // namespace
}  // namespace pm
