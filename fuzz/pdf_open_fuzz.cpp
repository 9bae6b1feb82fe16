// Fuzz target: a PDF of arbitrary bytes opened through AcroExch.PDDoc, its
// pages, text and outline walked through the automation surface (bookmark
// scripts run too). Any automation error is an acceptable answer; a crash,
// a sanitizer report, a leak or a hang is a finding. --make-seeds writes
// documents made through the server (see Fuzz.h for the driver).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "Fuzz.h"
#include "automation/Automation.h"
#include "automation/surfaces/Acrobat.h"

namespace {

using namespace pm;

void walkOutline(const ObjectRef& node, int depth, int& budget) {
  if (depth > 32 || budget <= 0) return;
  Variant kids = get(node, "children");
  if (!kids.isArray()) return;
  for (const Variant& k : kids.array().data()) {
    if (--budget <= 0) return;
    ObjectRef c = objectOf(k);
    CStr(get(c, "name"));
    get(c, "open");
    get(c, "color");
    try {
      call(c, "execute");
    } catch (const AutomationError&) {
    }
    walkOutline(c, depth + 1, budget);
  }
}

void walkForm(const ObjectRef& js) {
  try {
    int n = CLng(get(js, "numFields"));
    for (int i = 0; i < n && i < 64; ++i) {
      try {
        Variant f = call(js, "getField", {call(js, "getNthFieldName", {i})});
        if (!f.isObject()) continue;
        ObjectRef field = objectOf(f);
        for (const char* p : {"type", "value", "rect", "page", "readonly", "textFont", "textSize", "fillColor",
                              "borderStyle", "exportValues", "numItems", "defaultValue", "display"}) {
          try {
            get(field, p);
          } catch (const AutomationError&) {
          }
        }
        try {
          let(field, "value", "fuzz");
        } catch (const AutomationError&) {
        }
      } catch (const AutomationError&) {
      }
    }
  } catch (const AutomationError&) {
  }
}

void walkAnnots(const ObjectRef& js, int pages) {
  for (int i = 0; i < pages && i < 8; ++i) {
    try {
      Variant list = call(js, "getAnnots", {i});
      if (!list.isArray()) continue;
      int k = 0;
      for (const Variant& a : list.array().data()) {
        if (++k > 32) break;
        try {
          ObjectRef props = objectOf(call(objectOf(a), "getProps"));
          call(objectOf(a), "setProps", {Variant(props)});
        } catch (const AutomationError&) {
        }
      }
    } catch (const AutomationError&) {
    }
  }
}

void exercise(const uint8_t* data, size_t size) {
  // A looping script costs a second, not the run.
  static const bool once = (setenv("PRESSMARK_SCRIPT_SECONDS", "1", 0), true);
  (void)once;
  const std::string& path = pmfuzz::writeScratch(data, size, ".pdf");
  try {
    ObjectRef doc = CreateObject(acrobat::kPDDoc);
    if (!CBool(call(doc, "Open", {path}))) return;
    int pages = CLng(call(doc, "GetNumPages"));
    ObjectRef js = objectOf(call(doc, "GetJSObject"));
    ObjectRef rect = CreateObject(acrobat::kRect);
    let(rect, "Left", 0);
    let(rect, "Right", 30000);
    let(rect, "bottom", -30000);
    let(rect, "Top", 30000);
    for (int i = 0; i < pages && i < 8; ++i) {
      try {
        ObjectRef page = objectOf(call(doc, "AcquirePage", {i}));
        call(page, "GetSize");
        int words = CLng(call(js, "getPageNumWords", {i}));
        for (int w = 0; w < words && w < 64; ++w) {
          call(js, "getPageNthWord", {i, w, false});
          call(js, "getPageNthWordQuads", {i, w});
        }
        ObjectRef sel = objectOf(call(doc, "CreateTextSelect", {i, Variant(rect)}));
        int n = CLng(call(sel, "GetNumText"));
        for (int k = 0; k < n && k < 64; ++k) call(sel, "GetText", {k});
        call(js, "getPageBox", {"Crop", i});
      } catch (const AutomationError&) {
      }
    }
    try {
      int budget = 500;
      walkOutline(objectOf(get(js, "bookmarkRoot")), 0, budget);
    } catch (const AutomationError&) {
    }
    try {
      CStr(get(js, "title"));
      get(js, "creationDate");
      get(js, "numFields");
    } catch (const AutomationError&) {
    }
    walkForm(js);
    walkAnnots(js, pages);
    try {
      for (int i = 0; i < pages && i < 8; ++i) call(js, "getPageLabel", {i});
      get(js, "dataObjects");
      get(js, "templates");
      get(js, "numTemplates");
    } catch (const AutomationError&) {
    }
    try {
      // Writing the document back walks every object the engine kept.
      call(doc, "Save", {1, path + ".out"});
    } catch (const AutomationError&) {
    }
    std::remove((path + ".out").c_str());
  } catch (const AutomationError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  exercise(data, size);
  return 0;
}

// Documents made through the server that reach the members the target
// walks: form fields of every kind, annotations, an outline, page labels,
// a template, a script and an attachment.
void pmFuzzMakeSeeds(const std::string& dir) {
  using namespace pm;
  ObjectRef doc = CreateObject(acrobat::kPDDoc);
  call(doc, "Create");
  ObjectRef js = objectOf(call(doc, "GetJSObject"));
  for (int i = 0; i < 3; ++i) call(js, "newPage", {i, 612.0, 792.0});
  const char* kinds[] = {"text", "button", "checkbox", "radiobutton", "combobox", "listbox", "signature"};
  double y = 700;
  for (const char* k : kinds) {
    ObjectRef f = objectOf(call(js, "addField", {std::string("f.") + k, k, 0, V({72.0, y, 272.0, y - 20})}));
    y -= 40;
    if (std::string(k) == "combobox" || std::string(k) == "listbox") call(f, "setItems", {V({"a", V({"b", "B"})})});
    if (std::string(k) == "text") let(f, "value", "seed");
  }
  ObjectRef a = objectOf(call(js, "addAnnot"));
  ObjectRef p = objectOf(call(a, "getProps"));
  let(p, "type", "Text");
  let(p, "contents", "note");
  let(p, "popupRect", V({0, 600, 200, 700}));
  call(a, "setProps", {Variant(p)});
  ObjectRef h = objectOf(call(js, "addAnnot"));
  p = objectOf(call(h, "getProps"));
  let(p, "type", "Highlight");
  let(p, "page", 1);
  let(p, "quads", V({V({72, 720, 172, 720, 72, 700, 172, 700})}));
  call(h, "setProps", {Variant(p)});
  ObjectRef root = objectOf(get(js, "bookmarkRoot"));
  call(root, "createChild", {"One", "this.pageNum = 1;", 0});
  call(objectOf(get(root, "children").array().data()[0]), "createChild", {"Two", "this.pageNum++;", 0});
  call(js, "setPageLabels", {1, V({"r", "p-", 3})});
  call(js, "createTemplate", {"tpl", 2});
  call(js, "addScript", {"init", "var x = 1;"});
  call(js, "addWatermarkFromText", {"SEED", 1, "Helvetica", 30});
  std::string file = dir + "/seed-attachment.txt";
  {
    std::ofstream o(file);
    o << "attached";
  }
  call(js, "importDataObject", {"att", file});
  std::remove(file.c_str());
  call(doc, "Save", {1, dir + "/seed-everything.pdf"});
  call(doc, "Close");
}
