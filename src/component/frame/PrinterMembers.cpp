// The printer members of CreatePDF: switching the user's default printer.
#include "component/frame/CreatePDF.h"
#include "system/Printers.h"

namespace pm {
namespace {

// Reports nothing: a printer that is not installed, or a spooler that
// refuses the change, leaves the default as it was. Only an argument that
// has no text form (Null, an array, an object) is the caller's error.
Variant SetDefPrinter(CreatePDF&, Frame& f) {
  std::string name = CStr(f["strPrinter"]);
  SetDefaultPrinter(currentSpooler(), name);
  return {};
}

void describe(Members<CreatePDF>& m) {
  m.method("SetDefPrinter", {P("strPrinter").path().byVal()}, &SetDefPrinter,
           "Make the named printer the user's default printer; an unknown name changes nothing.");
}

const CreatePDFMembers::Register reg("printer", &describe);

}  // namespace
}  // namespace pm
