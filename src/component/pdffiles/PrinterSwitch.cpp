#include "component/pdffiles/PrinterSwitch.h"

#include "system/Printers.h"

namespace pm {

PrinterSwitch::~PrinterSwitch() {
  restore();
}

void PrinterSwitch::switchTo(const Variant& strPrinter) {
  std::string name = CStr(strPrinter);
  if (Trim(name).empty()) return;
  saved_ = CurrentDefaultPrinter(currentSpooler());
  pending_ = true;
  SetDefaultPrinter(currentSpooler(), name);
}

void PrinterSwitch::restore() noexcept {
  if (!pending_) return;
  pending_ = false;
  if (Trim(saved_).empty()) return;
  ignoreErrors([&] { SetDefaultPrinter(currentSpooler(), saved_); });
}

}  // namespace pm
