#include "component/convert/Distill.h"

#include "automation/surfaces/Distiller.h"
#include "component/frame/ModuleState.h"
#include "system/Files.h"
#include "system/SystemServices.h"

namespace pm {

void raiseMissingFile(const Variant& path) {
  std::string text;
  // A path that has no text (Null, an object) still gets its message.
  if (!ignoreErrors([&] { text = CStr(path); })) text.clear();
  raise(kErrComponent, "File " + text + " does not exist.");
}

bool equalsTrue(const Variant& v) {
  bool yes = false;
  ignoreErrors([&] { yes = Compare(v, Variant(true)) == 0; });
  return yes;
}

void deleteIfExists(const Variant& path) {
  if (FileExists(path)) Kill(CStr(path));
}

void requireNoConversion(const CreatePDF& self) {
  if (self.distiller())
    raise(kErrComponent,
          "A conversion is already running on this CreatePDF object; start another one on a new CreatePDF object, "
          "not from this one's event handler");
}

void distillStep(CreatePDF& self, const std::string& ps, const std::string& pdf, const Variant& blnShowWindow,
                 const Variant& blnSpoolJobs, const Variant& strJobOptionsFile, const Variant& blnApplySecurity,
                 ObjectRef& secure) {
  // Version 5.0 itself and an unreadable version take the event path.
  const bool security = Val(moduleState().strAcrobatVersion) > 5.0 && equalsTrue(blnApplySecurity);
  if (security) {
    secure = CreateObject(distiller::kSecurityClsid);
    let(secure, distiller::kShowWindow, Variant(CLng(blnShowWindow)));
    let(secure, distiller::kSpoolJobs, Variant(CLng(blnSpoolJobs)));
    Variant result = call(secure, distiller::kFileToPDF2, {ps, pdf, CStr(strJobOptionsFile), Variant(true)});
    // No events reach the client on this path: a job that failed is
    // reported here, with the Distiller's reason when it gives one.
    bool made = false;
    ignoreErrors([&] { made = CLng(result) == 1; });
    if (!made) {
      std::string reason;
      ignoreErrors([&] { reason = CStr(get(secure, distiller::kLastMessage)); });
      raise(kErrComponent, "The PDF file " + pdf + " was not made" + (reason.empty() ? "." : ": " + reason));
    }
    secure.reset();
  } else {
    // Held by the CreatePDF while it converts, so its events reach the
    // client. One job at a time: a conversion started on this object from
    // its own event handler would replace (and free) the Distiller that is
    // still at work.
    requireNoConversion(self);
    ObjectRef d = CreateObject(distiller::kEventClsid);
    self.setDistiller(d);
    // Let go on every path, so a failed job does not leave the object busy.
    struct Release {
      CreatePDF& s;
      ~Release() { s.setDistiller(nullptr); }
    } release{self};
    let(d, distiller::kShowWindow, Variant(CLng(blnShowWindow)));
    let(d, distiller::kSpoolJobs, Variant(CLng(blnSpoolJobs)));
    call(d, distiller::kFileToPDF, {ps, pdf, CStr(strJobOptionsFile)});
  }
  // On the event path the result is not examined: a failed job shows
  // as JobFail and a missing PDF.
}

}  // namespace pm
