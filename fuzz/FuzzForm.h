// The form the form-data targets import into: one document with fields of
// every kind under a dotted hierarchy, made once per process through the
// server, and kept open.
#pragma once

#include "automation/Automation.h"
#include "automation/surfaces/Acrobat.h"

namespace pmfuzz {

inline pm::ObjectRef formJS() {
  using namespace pm;
  // Kept for the whole run, never destroyed: exit-time destructors would
  // close it after the engine is gone.
  static ObjectRef& js = *new ObjectRef([] {
    static ObjectRef& doc = *new ObjectRef(CreateObject(acrobat::kPDDoc));
    call(doc, "Create");
    ObjectRef j = objectOf(call(doc, "GetJSObject"));
    call(j, "newPage", {0, 612.0, 792.0});
    const char* kinds[] = {"text", "checkbox", "radiobutton", "combobox", "listbox"};
    double y = 700;
    for (const char* k : kinds) {
      ObjectRef f = objectOf(call(j, "addField", {std::string("a.b.") + k, k, 0, V({72.0, y, 272.0, y - 20})}));
      if (std::string(k) == "combobox" || std::string(k) == "listbox") call(f, "setItems", {V({"x", "y"})});
      y -= 40;
    }
    return j;
  }());
  return js;
}

// Imports the input through the member (importAnFDF, importAnXFDF) and reads
// every field back; automation errors are answers, not findings.
inline void importInto(const char* member, const std::string& path) {
  using namespace pm;
  ObjectRef js = formJS();
  try {
    call(js, member, {path});
    int n = CLng(get(js, "numFields"));
    for (int i = 0; i < n; ++i) get(objectOf(call(js, "getField", {call(js, "getNthFieldName", {i})})), "value");
  } catch (const AutomationError&) {
  }
}

}  // namespace pmfuzz
