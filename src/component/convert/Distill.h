// The distill step every conversion to PDF ends in, and the pieces the
// conversion methods share around it: the missing-file error, the test for
// a Basic True, and the trap of the methods that hold Distiller objects.
#pragma once

#include <string>

#include "component/frame/CreatePDF.h"

namespace pm {

// "File " & path & " does not exist." with the component's number, the
// path exactly as the caller passed it.
[[noreturn]] void raiseMissingFile(const Variant& path);

// v = True in Basic: True itself or a number equal to -1; anything else
// (other numbers, text, Empty, Null, objects) is not True.
bool equalsTrue(const Variant& v);

// The distill step: ps becomes pdf through the security-capable Distiller
// (Acrobat version above 5.0 and blnApplySecurity True) or through the
// event-enabled one held in self's objAdobeDistiller, whose job events the
// client receives. secure holds the security-capable object while it runs,
// so the caller's trap can release it. A job the security path reports as
// failed raises the component's error with the Distiller's reason.
void distillStep(CreatePDF& self, const std::string& ps, const std::string& pdf, const Variant& blnShowWindow,
                 const Variant& blnSpoolJobs, const Variant& strJobOptionsFile, const Variant& blnApplySecurity,
                 ObjectRef& secure);

// The error trap of methods that distil: on failure it empties
// objAdobeDistiller, releases the security-capable Distiller and raises the
// error again with its number and description and the component's title.
template <class Body>
void distillTrap(CreatePDF& self, ObjectRef& secure, Body&& body) {
  try {
    body();
  } catch (...) {
    AutomationError e = currentAsAutomationError();
    ignoreErrors([&] { self.setDistiller(nullptr); });
    secure.reset();
    throw AutomationError(e.number(), kComponentTitle, e.description());
  }
}

// If the file exists, delete it (Kill's errors go to the caller's trap).
void deleteIfExists(const Variant& path);

}  // namespace pm
