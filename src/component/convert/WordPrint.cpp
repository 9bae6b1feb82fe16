#include "component/convert/WordPrint.h"

#include "component/frame/ModuleState.h"
#include "component/convert/Distill.h"
#include "system/Files.h"
#include "system/SystemServices.h"

namespace pm::convert {

void releaseOffice(CreatePDF& self, WordRun& run, bool releasesDistiller, const std::vector<Arg>& closeArgs) {
  if (run.doc) ignoreErrors([&] { call(run.doc, "Close", std::span<const Arg>(closeArgs)); });
  run.doc.reset();
  if (run.app) ignoreErrors([&] { call(run.app, "Quit"); });
  run.app.reset();
  if (releasesDistiller) {
    ignoreErrors([&] { self.setDistiller(nullptr); });
    run.secure.reset();
  }
}

void requireInput(const Variant& path) {
  // The PostScript methods' error, for a Null path too.
  if (!FileExists(path)) raiseMissingFile(path);
}

int16_t pageNumberAlignment(const Variant& v) {
  int32_t a = CLng(v);
  if (a == 0) return 0;
  if (a == 2) return 2;
  return 1;
}

void addPageNumbers(const ObjectRef& doc, bool inFooter, bool inHeader, int16_t alignment, const Variant& firstPage) {
  auto add = [&](const char* which) {
    ObjectRef section = objectOf(get(doc, "Sections", {Variant(int16_t{1})}));
    ObjectRef hf = objectOf(get(section, which, {Variant(int16_t{1})}));
    ObjectRef numbers = objectOf(get(hf, "PageNumbers"));
    call(numbers, "Add", {Named("PageNumberAlignment", Variant(alignment)), Named("FirstPage", firstPage)});
  };
  if (inFooter) add("Footers");
  if (inHeader) add("Headers");
}

std::string printerFor(const CreatePDF& self, const Variant& strDistiller) {
  std::string d = CStr(strDistiller);
  return Trim(d).empty() ? self.strPrinterName : d;
}

PrintTarget::PrintTarget(bool temporary, const Variant& output, const char* extension) {
  if (temporary) {
    temp_ = std::make_unique<ExclusiveTempFile>(moduleState().strTempFilePath, extension);
    path_ = temp_->path();
    return;
  }
  path_ = CStr(output);
  try {
    previous_.emplace(path_);
  } catch (const AtomicFileError& e) {
    raiseFileError(e.error(), path_);
  }
}

void PrintTarget::printed() {
  if (previous_) previous_->keepNew();
}

void printWord(const ObjectRef& doc, const std::string& out, const std::string& pages, bool exportPdf) {
  constexpr int16_t kFormatPdf = 17;
  if (exportPdf) {
    call(doc, "ExportAsFixedFormat",
         {Named("OutputFileName", Variant(out)), Named("ExportFormat", Variant(kFormatPdf))});
  } else if (Trim(pages).empty()) {
    // Every variant asks for a print into the file: the output is expected
    // at Outputfilename whichever printer is set.
    call(doc, "PrintOut",
         {Named("PrintToFile", Variant(true)), Named("Background", Variant(false)),
          Named("Outputfilename", Variant(out))});
  } else {
    call(doc, "PrintOut",
         {Named("PrintToFile", Variant(true)), Named("Background", Variant(false)), Named("Pages", Variant(pages)),
          Named("Range", Variant(int16_t{4})), Named("Outputfilename", Variant(out))});
  }
}

void distill(CreatePDF& self, WordRun& run, const std::string& ps, const std::string& pdf, const Variant& blnShowWindow,
             const Variant& blnSpoolJobs, const Variant& strJobOptionsFile, const Variant& blnApplySecurity) {
  distillStep(self, ps, pdf, blnShowWindow, blnSpoolJobs, strJobOptionsFile, blnApplySecurity, run.secure);
}

void finishWord(WordRun& run, const Variant& savedPrinter) {
  let(run.app, "ActivePrinter", savedPrinter);
  let(run.app, "DisplayAlerts", Variant(int16_t{-1}));
  call(run.doc, "Close", {Variant(false)});
  run.doc.reset();
  call(run.app, "Quit");
  run.app.reset();
}

}  // namespace pm::convert
