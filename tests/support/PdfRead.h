// Reading back what a saved file holds, with MuPDF on a context of the
// test's own, and with qpdf.
#pragma once

#include <string>
#include <vector>

#include "component/document/Document.h"
#include "component/frame/ModuleState.h"
#include "support/PdfTest.h"

namespace pm::test {

// The printed PDF object at a path from the trailer: "Root/AcroForm/Fields/0/T"
// (numbers index arrays; references are followed). "" when nothing is there.
std::string at(const std::string& file, const std::string& path);
// The printed entry key of the field with the full name, "" when absent;
// "<none>" when the field is not in the form.
std::string fieldEntry(const std::string& file, const std::string& name, const std::string& key);
// Entries of one field as eachOf shows them: "V=(Ada) Q=1".
inline std::string fieldEntries(const std::string& file, const std::string& name,
                                const std::vector<std::string>& keys) {
  return eachOf(keys, [&](const std::string& k) { return fieldEntry(file, name, k); });
}
// The printed objects at the paths below from, as eachOf shows them.
inline std::string atEach(const std::string& file, const std::string& from, const std::vector<std::string>& paths) {
  return eachOf(paths, [&](const std::string& p) { return at(file, from + p); });
}
// The properties of an object as eachOf shows them.
inline std::string propsOf(const ObjectRef& o, const std::vector<std::string>& names) {
  return eachOf(names, [&](const std::string& n) { return CStr(get(o, n)); });
}
// The full names of the terminal fields, in form order.
std::vector<std::string> fieldNames(const std::string& file);
// The annotations of a page (0-based) as printed dictionaries, widgets and
// pop-ups left out.
std::vector<std::string> annots(const std::string& file, int page);
// The text of a page as MuPDF extracts it.
std::string pageText(const std::string& file, int page);

// A Document of the component over the file, as OpenDocument makes it.
inline ObjectRef openDocument(const std::string& path) {
  moduleState().strOpenDocumentPath = path;
  return createDocument();
}

// An annotation added through the JavaScript object, with one
// getProps/setProps pass per list of properties (name, value, name, ...).
ObjectRef addAnnot(const ObjectRef& js, std::initializer_list<std::vector<Variant>> passes);

// The document under test, opened through the server, with its JavaScript
// object.
class JsTest : public PdfTest {
 protected:
  void SetUp() override {
    PdfTest::SetUp();
    pd = openPDDoc(path);
    js = objectOf(call(pd, "GetJSObject"));
  }
  // Saves in full to a new file and answers its name.
  std::string save(const std::string& name = "out.pdf") {
    std::string out = dir.file(name);
    EXPECT_TRUE(CBool(call(pd, "Save", {1, out})));
    return out;
  }
  ObjectRef pd, js;
};

}  // namespace pm::test
