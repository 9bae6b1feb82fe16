#include "component/pdffiles/ViewerSession.h"

#include "automation/surfaces/Acrobat.h"
#include "component/pdffiles/ViewerNames.h"

namespace pm::pdffiles {

void ViewerSession::openInViewer(const Variant& path) {
  app = CreateObject(acrobat::kApp);
  pddoc = CreateObject(acrobat::kPDDoc);
  call(pddoc, "Open", {path});
  avdoc = objectOf(call(pddoc, "OpenAVDoc", {viewerWindowTitle(CStr(path))}));
}

}  // namespace pm::pdffiles
