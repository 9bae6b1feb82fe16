#include "convert/members_word_print.h"

#include "automation/surfaces/Distiller.h"
#include "component/ModuleState.h"
#include "system/Files.h"
#include "system/SystemServices.h"

namespace pm::convert {

void requireInput(const Variant& path) {
  if (!FileExists(path)) raise(kErrComponent, "File " + CStr(path) + " does not exist.");
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

std::string newTempPostScript() {
  ExclusiveTempFile f(moduleState().strTempFilePath, ".ps");
  f.keep();
  return f.path();
}

void deleteIfExists(const std::string& path) {
  if (FileExists(Variant(path))) Kill(path);
}

namespace {
bool isTrue(const Variant& v) {
  bool t = false;
  ignoreErrors([&] { t = !v.isString() && CDbl(v) == -1; });
  return t;
}
}  // namespace

void distill(CreatePDF& self, WordRun& run, const std::string& ps, const std::string& pdf, const Variant& blnShowWindow,
             const Variant& blnSpoolJobs, const Variant& strJobOptionsFile, const Variant& blnApplySecurity) {
  double version = 0;
  ignoreErrors([&] { version = Val(moduleState().strAcrobatVersion); });
  bool security = version > 5.0 && isTrue(blnApplySecurity);
  if (security) {
    run.secure = CreateObject(distiller::kSecurityClsid);
    let(run.secure, distiller::kShowWindow, Variant(CLng(blnShowWindow)));
    let(run.secure, distiller::kSpoolJobs, Variant(CLng(blnSpoolJobs)));
    call(run.secure, distiller::kFileToPDF2, {Variant(ps), Variant(pdf), Variant(CStr(strJobOptionsFile)), Variant(true)});
    run.secure.reset();
  } else {
    self.setDistiller(CreateObject(distiller::kEventClsid));
    let(self.distiller(), distiller::kShowWindow, Variant(CLng(blnShowWindow)));
    let(self.distiller(), distiller::kSpoolJobs, Variant(CLng(blnSpoolJobs)));
    call(self.distiller(), distiller::kFileToPDF, {Variant(ps), Variant(pdf), Variant(CStr(strJobOptionsFile))});
    self.setDistiller(nullptr);
  }
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
