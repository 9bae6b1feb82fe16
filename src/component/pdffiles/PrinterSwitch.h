// The default-printer switch of the printing members: the current default
// is saved and the named printer made the default; restore() puts the saved
// one back, and the destructor does so on any path that did not.
#pragma once

#include <string>

#include "automation/Automation.h"

namespace pm {

class PrinterSwitch {
 public:
  PrinterSwitch() = default;
  ~PrinterSwitch();
  PrinterSwitch(const PrinterSwitch&) = delete;
  PrinterSwitch& operator=(const PrinterSwitch&) = delete;

  // Does nothing when strPrinter is blank after trimming.
  void switchTo(const Variant& strPrinter);
  // Makes the saved printer the default again when one was saved (and not
  // yet restored). Never raises.
  void restore() noexcept;
  const std::string& saved() const { return saved_; }

 private:
  std::string saved_;
  bool pending_ = false;
};

}  // namespace pm
