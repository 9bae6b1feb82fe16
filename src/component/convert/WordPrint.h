// What the Word and text-file conversions share: the objects one conversion
// holds, the trap that lets them go, the page-number step, and the distill
// step that ends the PDF methods.
#pragma once

#include <string>

#include "automation/Automation.h"
#include "component/frame/CreatePDF.h"

namespace pm::convert {

// The objects a Word conversion holds while it runs.
struct WordRun {
  ObjectRef app;     // Word.Application
  ObjectRef doc;     // the open document
  ObjectRef secure;  // the security-capable Distiller during its step
};

// The error trap of the conversions: on any failure the document is closed
// without saving, Word is quit, the Distiller objects are let go (those of
// the PDF methods), and the error is raised again with its number and
// description and the component's title as source.
template <class Body>
void wordTrap(CreatePDF& self, WordRun& run, bool releasesDistiller, Body&& body) {
  try {
    body();
  } catch (...) {
    AutomationError e = currentAsAutomationError();
    if (run.doc) ignoreErrors([&] { call(run.doc, "Close", {Variant(false)}); });
    run.doc.reset();
    if (run.app) ignoreErrors([&] { call(run.app, "Quit"); });
    run.app.reset();
    if (releasesDistiller) {
      self.setDistiller(nullptr);
      run.secure.reset();
    }
    throw AutomationError(e.number(), kComponentTitle, e.description());
  }
}

// The missing-input error, raised before anything is started.
void requireInput(const Variant& path);

// lngPageNumberAlignment as Word takes it: 0 and 2 stay, anything else is 1.
int16_t pageNumberAlignment(const Variant& v);

// Page numbers on the first section's primary footer, then its header.
void addPageNumbers(const ObjectRef& doc, bool inFooter, bool inHeader, int16_t alignment, const Variant& firstPage);

// The printer to set: strDistiller when it is not blank after trimming,
// else the PrinterName of the object; the caller's variable is not changed.
std::string printerFor(const CreatePDF& self, const Variant& strDistiller);

// A new temporary PostScript path, strTempFilePath & random number & ".ps",
// created empty and exclusively so no other file can sit under that name.
std::string newTempPostScript();

// Deletes a file when it exists (error of Kill when that fails).
void deleteIfExists(const std::string& path);

// The distill step of convert/Distill.h with the run's hold on the
// security-capable Distiller, so the conversions' trap lets it go.
void distill(CreatePDF& self, WordRun& run, const std::string& ps, const std::string& pdf, const Variant& blnShowWindow,
             const Variant& blnSpoolJobs, const Variant& strJobOptionsFile, const Variant& blnApplySecurity);

// The end of a print-out: the saved printer back, alerts on, the document
// closed without saving, Word quit, both let go.
void finishWord(WordRun& run, const Variant& savedPrinter);

}  // namespace pm::convert
