// The small settings and utility members of CreatePDF.
#include <cstdlib>

#include "component/frame/CreatePDF.h"
#include "component/frame/DocumentFactory.h"
#include "component/frame/ModuleState.h"
#include "system/Files.h"

namespace pm {
namespace {

Variant OpenDocument(CreatePDF&, Frame& f) {
  ignoreErrors([&] { moduleState().strOpenDocumentPath = CStr(f["strPDF"]); });
  ObjectRef doc;
  ignoreErrors([&] { doc = createDocumentObject(); });
  if (!doc) return Variant();
  return Variant(doc);
}

Variant CopyFile(CreatePDF&, Frame& f) {
  FileCopy(CStr(f["strSource"]), CStr(f["strTarget"]));
  return {};
}

Variant AcrobatVersion(CreatePDF&, Frame&) {
  return Variant(moduleState().strAcrobatVersion);
}

Variant PrinterName(CreatePDF& self, Frame&) {
  return Variant(self.strPrinterName);
}

Variant GetTempFilePath(CreatePDF&, Frame&) {
  return Variant(moduleState().strTempFilePath);
}

Variant LetTempFilePath(CreatePDF&, Frame& f) {
  ignoreErrors([&] {
    std::string v = CStr(f["vNewValue"]);
    bool store = false;
    try {
      MkDir(v);
      store = true;
    } catch (const AutomationError& e) {
      // An existing folder answers "Path/File access error"; that is fine.
      store = e.number() == basic::PathFileAccess;
    }
    if (store) moduleState().strTempFilePath = withTrailingSlash(v);
  });
  return {};
}

void describe(Members<CreatePDF>& m) {
  m.method("OpenDocument", {P("strPDF").path()}, &OpenDocument, "Open a PDF document and return a Document object.")
      .method("CopyFile", {P("strSource").path(), P("strTarget").path()}, &CopyFile,
              "Copy a file; an existing target is replaced.")
      .method("AcrobatVersion", {}, &AcrobatVersion, "The installed PDF viewer version.")
      .get("TempFilePath", {}, &GetTempFilePath, "Get/set the folder for temporary files.")
      .let("TempFilePath", {P("vNewValue").byVal()}, &LetTempFilePath, "Get/set the folder for temporary files.")
      .method("PrinterName", {}, &PrinterName, "The name of the PostScript printer used for conversions.");
}

const CreatePDFMembers::Register reg("frame", &describe);

}  // namespace
}  // namespace pm
