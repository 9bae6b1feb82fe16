#include "component/document/Document.h"

#include "automation/ClassTables.h"
#include "automation/surfaces/Acrobat.h"
#include "component/frame/DocumentFactory.h"
#include "component/frame/ModuleState.h"

namespace pm {

Document::Document() {
  // Opening never raises: whatever fails leaves the document in the failed
  // state, both references empty.
  strDocumentPath = moduleState().strOpenDocumentPath;
  ObjectRef pd;
  ignoreErrors([&] { pd = CreateObject(acrobat::kPDDoc); });
  if (!pd) return;
  bool opened = false;
  ignoreErrors([&] {
    Variant path(strDocumentPath);
    Variant r = call(pd, "Open", {ByRef(path)});
    opened = !r.isNull() && CBool(r);
  });
  if (!opened) return;
  objPDDoc = pd;
  ignoreErrors([&] { objJSO = objectOf(call(objPDDoc, "GetJSObject")); });
  blnDocOpen = true;
}

Document::~Document() {
  if (blnDocOpen) ignoreErrors([&] { call(objJSO, "CloseDoc", {true}); });
  objJSO.reset();
  objPDDoc.reset();
}

const MemberTable& Document::table() {
  static const MemberTable t = [] {
    MemberTable t("Document");
    DocumentMembers::applyAll(t);
    return t;
  }();
  return t;
}

const MemberTable* Document::memberTable() const { return &table(); }

namespace {

// Basic counts in a 16-bit Integer; a longer text overflows.
int16_t checkedLength(const std::string& s) {
  if (s.size() > 32767) raise(basic::Overflow);
  return static_cast<int16_t>(s.size());
}

}  // namespace

int16_t Document::CountLeadingSpaces(const std::string& s) {
  int16_t n = checkedLength(s);
  for (int16_t i = 0; i < n; ++i)
    if (s[static_cast<size_t>(i)] != ' ') return i;
  return n;
}

int16_t Document::CountSpaces(const std::string& s) {
  int16_t n = checkedLength(s), count = 0;
  for (int16_t i = 0; i < n; ++i)
    if (s[static_cast<size_t>(i)] == ' ') ++count;
  return count;
}

int16_t Document::CountPeriods(const std::string& s) {
  int16_t n = checkedLength(s), count = 0;
  for (int16_t i = 0; i < n; ++i)
    if (s[static_cast<size_t>(i)] == '.') ++count;
  return count;
}

bool Document::StartsWithDigit(const std::string& s) { return !s.empty() && s[0] >= '0' && s[0] <= '9'; }

ObjectRef createDocument() { return std::make_shared<Document>(); }

namespace {
// CreatePDF.OpenDocument finds the factory here.
const bool installed = (setDocumentFactory(&createDocument), true);
const RegisterClassTable listed(&Document::table);
}  // namespace

}  // namespace pm
