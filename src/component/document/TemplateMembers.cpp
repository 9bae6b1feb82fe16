// Templates of Document: making a template of a page, listing, removing
// and spawning templates.
#include "component/document/PageNumbers.h"

namespace pm {
namespace {

using namespace pages;

Variant CreateTemplate(Document& d, Frame& f) {
  call(d.objJSO, "CreateTemplate", {firstOrZero(f["lngPage"])});
  return {};
}
Variant GetNthTemplate(Document& d, Frame& f) {
  return Variant(CStr(call(d.objJSO, "GetNthTemplate", {f["intIndex"]})));
}
Variant RemoveTemplate(Document& d, Frame& f) {
  call(d.objJSO, "RemoveTemplate", {f["strName"]});
  return {};
}
Variant SpawnPageFromTemplate(Document& d, Frame& f) {
  call(d.objJSO, "SpawnPageFromTemplate",
       {f["strTemplate"], firstOrSame(f["lngPage"]), f["blnRenameFields"], f["blnOverlayPage"]});
  return {};
}

void describe(Members<Document>& m) {
  m.method("CreateTemplate", {P("lngPage").opt(int32_t(0))}, &CreateTemplate,
           "Creates a template of the specified page, named after the page index.")
      .method("GetNthTemplate", {P("intIndex")}, &GetNthTemplate, "Gets the name of the nth template in the document.")
      .method("RemoveTemplate", {P("strName")}, &RemoveTemplate, "Removes the named template from the document.")
      .method("SpawnPageFromTemplate",
              {P("strTemplate"), P("lngPage").opt(int32_t(0)), P("blnRenameFields").opt(true),
               P("blnOverlayPage").opt(true)},
              &SpawnPageFromTemplate, "Spawns a page from the template, as a new page or over an existing page.");
}

const DocumentMembers::Register reg("templates", &describe);

}  // namespace
}  // namespace pm
