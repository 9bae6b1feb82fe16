// Document members over the form's fields as a whole: handing out Field
// objects, listing names, removing and resetting fields, and switching the
// read-only or required flag of all fields, of a list, or of all but a list.
#include "automation/Collection.h"
#include "component/frame/ModuleState.h"
#include "component/document/Document.h"
#include "component/document/Field.h"
#include "component/document/Vocabulary.h"

namespace pm {
namespace {

Variant GetField(Document& d, Frame& f) {
  ObjectRef field;
  ignoreErrors([&] {
    moduleState().strFieldRequestName = CStr(f["strName"]);
    moduleState().objFieldRequestJS = d.objJSO;
    field = createField();
  });
  return Variant(field);
}

Variant GetNthFieldName(Document& d, Frame& f) {
  return Variant(CStr(call(d.objJSO, "GetNthFieldName", {f["intIndex"]})));
}

Variant GetFields(Document& d, Frame&) {
  auto names = std::make_shared<Collection>();
  ignoreErrors([&] {
    int32_t n = CLng(get(d.objJSO, "NumFields"));
    for (int32_t i = 0; i < n; ++i)
      ignoreErrors([&] { names->Add(call(d.objJSO, "GetNthFieldName", {i}), std::to_string(i + 1)); });
  });
  return Variant(ObjectRef(names));
}

Variant GetFieldsArray(Document& d, Frame&) {
  // With no fields, a String array that was never dimensioned.
  Array names(std::vector<Bound>{}, VT::String);
  ignoreErrors([&] {
    int32_t n = CLng(get(d.objJSO, "NumFields"));
    for (int32_t i = 0; i < n; ++i) {
      ignoreErrors([&] {
        Variant name = call(d.objJSO, "GetNthFieldName", {i});
        if (names.dims() == 0)
          names = Array({Bound{0, i + 1}}, VT::String);
        else
          names.redimPreserve(i);
        names.set({i}, name);
      });
    }
  });
  return Variant(std::move(names));
}

Variant RemoveField(Document& d, Frame& f) {
  call(d.objJSO, "RemoveField", {f["strName"]});
  return {};
}

Variant ResetFormFields(Document& d, Frame& f) {
  const Variant& v = f["varFields"];
  if (v.isArray()) call(d.objJSO, "resetForm", {v});
  // One name given as a text means that field, not every field.
  else if (v.isString())
    call(d.objJSO, "resetForm", {Variant(Array::vector({v}))});
  else
    call(d.objJSO, "resetForm");
  return {};
}

int16_t lastFieldIndex(Document& d) {
  int32_t n = CLng(get(d.objJSO, "NumFields")) - 1;
  if (n > 32767) raise(basic::Overflow);
  return static_cast<int16_t>(n);
}

// Both flags are switched by the same walk over the named fields.
void setFlag(Document& d, const char* prop, const Variant& value, const Variant& fields, const Variant& lock) {
  auto setField = [&](const Variant& name) {
    ignoreErrors([&] { let(objectOf(call(d.objJSO, "GetField", {name})), prop, value); });
  };
  auto everyFieldBut = [&](auto&& excluded) {
    ignoreErrors([&] {
      int16_t last = lastFieldIndex(d);
      for (int16_t i = 0; i <= last; ++i) {
        ignoreErrors([&] {
          Variant name = call(d.objJSO, "GetNthFieldName", {i});
          if (!excluded(CStr(name))) setField(name);
        });
      }
    });
  };
  bool all = false, include = false, exclude = false;
  ignoreErrors([&] {
    all = vocab::codeIs(lock, 0);
    include = vocab::codeIs(lock, 1);
    exclude = vocab::codeIs(lock, 2);
  });
  if (all) {
    everyFieldBut([](const std::string&) { return false; });
  } else if (!fields.isArray()) {
    if (!fields.isString()) return;
    if (include)
      setField(fields);
    else if (exclude)
      everyFieldBut([&](const std::string& name) { return TextEquals(name, fields.asString()); });
  } else {
    const Array& list = fields.array();
    if (include) {
      ignoreErrors([&] {
        for (int32_t j = list.lbound(1); j <= list.ubound(1); ++j) setField(list.at({j}));
      });
    } else if (exclude) {
      everyFieldBut([&](const std::string& name) {
        bool hit = false;
        ignoreErrors([&] {
          for (int32_t j = list.lbound(1); j <= list.ubound(1) && !hit; ++j)
            ignoreErrors([&] { hit = TextEquals(CStr(list.at({j})), name); });
        });
        return hit;
      });
    }
  }
}

Variant SetReadOnly(Document& d, Frame& f) {
  setFlag(d, "ReadOnly", f["blnReadOnly"], f["varFields"], f["lngLock"]);
  return {};
}

Variant SetRequired(Document& d, Frame& f) {
  setFlag(d, "Required", f["blnRequired"], f["varFields"], f["lngLock"]);
  return {};
}

void describe(Members<Document>& m) {
  m.method("GetField", {P("strName")}, &GetField,
           "Method to instantiate the Field Object. Used to perform various operations on form fields.")
      .method("GetNthFieldName", {P("intIndex")}, &GetNthFieldName, "Get nth field name in document.")
      .method("GetFields", {}, &GetFields, "Returns a collection object containing all the fields in the document.")
      .method("GetFieldsArray", {}, &GetFieldsArray, "Returns an array containing all the fields in the document.")
      .method("RemoveField", {P("strName")}, &RemoveField, "Remove form fields in document.")
      .method("ResetFormFields", {P("varFields").opt(Variant::nothing())}, &ResetFormFields,
              "Resets the form field values within a document.")
      .method("SetReadOnly",
              {P("blnReadOnly").opt(Variant(false)), P("varFields").opt(Variant::nothing()),
               P("lngLock").opt(Variant(int32_t(0)))},
              &SetReadOnly, "Set specified form fields to read-only.")
      .method("SetRequired",
              {P("blnRequired").opt(Variant(false)), P("varFields").opt(Variant::nothing()),
               P("lngLock").opt(Variant(int32_t(0)))},
              &SetRequired, "Set specified form fields to required.");
}

const DocumentMembers::Register reg("field sets", &describe);

}  // namespace
}  // namespace pm
