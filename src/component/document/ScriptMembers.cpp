// Document scripts, document and page actions, and the named objects of the
// document (embedded files, sounds, icons): each forwards its parameters in
// their declared order to one member of the JavaScript object.
#include "component/document/Document.h"
#include "component/document/Vocabulary.h"

namespace pm {
namespace {

Variant AddScript(Document& d, Frame& f) {
  call(d.objJSO, "AddScript", {f["strName"], f["strScript"]});
  return {};
}

Variant RemoveScript(Document& d, Frame& f) {
  call(d.objJSO, "RemoveScript", {f["strName"]});
  return {};
}

// Basic's subtraction of 1 keeps an Integer or a Long in its type and
// turns anything else into a Double.
Variant oneLess(const Variant& v) {
  if (v.type() == VT::Integer) return Variant(static_cast<int16_t>(v.asInteger() - 1));
  if (v.type() == VT::Byte) return Variant(static_cast<int16_t>(v.asByte() - 1));
  if (v.type() == VT::Long) return Variant(static_cast<int32_t>(v.asLong() - 1));
  return Variant(CDbl(v) - 1);
}

// The JavaScript object spells this member in lower camel case; the name is
// passed as the viewer documents it.
Variant SetDocumentAction(Document& d, Frame& f) {
  call(d.objJSO, "setAction", {vocab::DocumentTrigger(f["lngTrigger"]), f["strAction"]});
  return {};
}

Variant SetPageAction(Document& d, Frame& f) {
  // Pages are 1-based here and 0-based to the JavaScript object; zero and
  // negative numbers go through unchanged.
  Variant page = f["lngPage"];
  if (Compare(page, Variant(int32_t(0))) > 0) page = oneLess(page);
  call(d.objJSO, "SetPageAction", {page, vocab::PageTrigger(f["lngTrigger"]), f["strAction"]});
  return {};
}

Variant AttachFile(Document& d, Frame& f) {
  return Variant(CBool(call(d.objJSO, "importDataObject", {f["strName"], f["strFile"]})));
}

Variant ExportDataObject(Document& d, Frame& f) {
  // The launch argument is always 0: the file is written, never opened.
  call(d.objJSO, "ExportDataObject", {f["strName"], f["strPath"], f["blnAllowAuthorization"], Variant(int16_t(0))});
  return {};
}

Variant RemoveDataObject(Document& d, Frame& f) {
  call(d.objJSO, "RemoveDataObject", {f["strName"]});
  return {};
}

Variant DeleteSound(Document& d, Frame& f) {
  call(d.objJSO, "DeleteSound", {f["strName"]});
  return {};
}

Variant RemoveIcon(Document& d, Frame& f) {
  call(d.objJSO, "RemoveIcon", {f["strName"]});
  return {};
}

void describe(Members<Document>& m) {
  m.method("AddScript", {P("strName"), P("strScript")}, &AddScript, "Sets a document level script for a document.")
      .method("RemoveScript", {P("strName")}, &RemoveScript, "Remove scripts in document.")
      .method("SetDocumentAction", {P("lngTrigger"), P("strAction")}, &SetDocumentAction, "Set document action.")
      .method("SetPageAction", {P("lngPage"), P("lngTrigger"), P("strAction")}, &SetPageAction, "Set page action.")
      .method("AttachFile", {P("strName"), P("strFile").path()}, &AttachFile,
              "Embeds an external file into the document.")
      .method("ExportDataObject",
              {P("strName"), P("strPath").path().opt(std::string()), P("blnAllowAuthorization").opt(false)},
              &ExportDataObject, "This method extracts the specified data object to an external file.")
      .method("RemoveDataObject", {P("strName")}, &RemoveDataObject, "Remove data objects in document.")
      .method("DeleteSound", {P("strName")}, &DeleteSound, "Deletes a sound object in the document.")
      .method("RemoveIcon", {P("strName")}, &RemoveIcon, "Remove icons in document.");
}

const DocumentMembers::Register reg("scripts", &describe);

}  // namespace
}  // namespace pm
