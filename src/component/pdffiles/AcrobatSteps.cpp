#include "component/pdffiles/AcrobatSteps.h"

#include "component/frame/ModuleState.h"

namespace pm {

bool resultIsTrue(const Variant& v) {
  bool yes = false;
  ignoreErrors([&] { yes = !v.isObject() && !v.isEmpty() && CBool(v); });
  return yes;
}

void openInViewer(const ObjectRef& doc, const std::string& path, bool viewerDocument) {
  Variant opened = viewerDocument ? call(doc, "Open", {path, ""}) : call(doc, "Open", {path});
  if (!resultIsTrue(opened)) raise(kErrComponent, "File " + path + " cannot be opened.");
}

double acrobatVersion() {
  double v = 0;
  ignoreErrors([&] { v = Val(moduleState().strAcrobatVersion); });
  return v;
}

void closeQuietly(const ObjectRef& doc, bool viewerDocument) {
  if (!doc) return;
  ignoreErrors([&] {
    if (viewerDocument)
      call(doc, "Close", {Variant(true)});
    else
      call(doc, "Close");
  });
}

}  // namespace pm
