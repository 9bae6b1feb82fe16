// What the Word and text-file conversions share: the objects one conversion
// holds, the trap that lets them go, the page-number step, and the distill
// step that ends the PDF methods.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "automation/Automation.h"
#include "component/frame/CreatePDF.h"
#include "system/AtomicFile.h"
#include "system/SystemServices.h"

namespace pm::convert {

// The objects a Word conversion holds while it runs.
struct WordRun {
  ObjectRef app;     // Word.Application
  ObjectRef doc;     // the open document
  ObjectRef secure;  // the security-capable Distiller during its step
};

// What every office conversion's trap does: the document closed (with
// closeArgs: Word and Excel are told not to save), the program quit, the
// Distiller objects let go (those of the PDF methods). Failures of this
// clean-up are ignored.
void releaseOffice(CreatePDF& self, WordRun& run, bool releasesDistiller, const std::vector<Arg>& closeArgs);

// The error trap of the office conversions: on any failure the office is
// let go as above and the error raised again with its number and
// description and the component's title as source.
template <class Body>
void officeTrap(CreatePDF& self, WordRun& run, bool releasesDistiller, Body&& body,
                std::vector<Arg> closeArgs = {Variant(false)}) {
  passErrorsOn(std::forward<Body>(body), [&] { releaseOffice(self, run, releasesDistiller, closeArgs); });
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

// Where a conversion prints. For the PDF methods a new temporary PostScript
// file, strTempFilePath & random number & ".ps", created empty and
// exclusively so no other file can sit under that name, and removed however
// the method ends. For the PostScript methods the caller's file: an
// existing one is moved out of the way while the program prints (it waits
// for the file to appear) and comes back unless printed() is called. A
// temporary file that receives the office's own PDF ends in ".pdf".
class PrintTarget {
 public:
  PrintTarget(bool temporary, const Variant& output, const char* extension = ".ps");
  // The program printed into the temporary file by writing its own file
  // beside it and renaming it over: that file goes when the method ends.
  ~PrintTarget() {
    if (temp_) temp_->adopt();
  }
  PrintTarget(const PrintTarget&) = delete;
  PrintTarget& operator=(const PrintTarget&) = delete;
  const std::string& path() const { return path_; }
  // The caller's file is complete: the one it replaces goes.
  void printed();

 private:
  std::unique_ptr<ExclusiveTempFile> temp_;
  std::optional<SetAside> previous_;
  std::string path_;
};

// The Word document into out. PostScript is printed when the caller asked
// for it or for a page list (which Word's export cannot take); otherwise
// (exportPdf) the office's own PDF is exported: the Distiller takes a PDF
// as it is, so the pages are not turned into PostScript only to be turned
// back, and its job options still apply to it.
void printWord(const ObjectRef& doc, const std::string& out, const std::string& pages, bool exportPdf);

// The distill step of convert/Distill.h with the run's hold on the
// security-capable Distiller, so the conversions' trap lets it go.
void distill(CreatePDF& self, WordRun& run, const std::string& ps, const std::string& pdf, const Variant& blnShowWindow,
             const Variant& blnSpoolJobs, const Variant& strJobOptionsFile, const Variant& blnApplySecurity);

// The end of a print-out: the saved printer back, alerts on, the document
// closed without saving, Word quit, both let go.
void finishWord(WordRun& run, const Variant& savedPrinter);

}  // namespace pm::convert
