#include "support/RecordedDocument.h"

#include "component/frame/ModuleState.h"

namespace pm::test {

void recordViewerDocument(recording::Recorder& rec) {
  rec.registerClass("AcroExch.PDDoc");
  rec.on("AcroExch.PDDoc", "Open").returns(Variant(true));
  rec.on("AcroExch.PDDoc", "GetJSObject").returnsObject("JSO");
  moduleState().strOpenDocumentPath = "/docs/a.pdf";
}

}  // namespace pm::test
