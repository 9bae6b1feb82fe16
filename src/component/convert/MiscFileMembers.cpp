// Any document Word can open, printed to PostScript through a PostScript
// printer, and optionally distilled to PDF.
#include <optional>

#include "automation/surfaces/Office.h"
#include "component/frame/CreatePDF.h"
#include "component/frame/ModuleState.h"
#include "component/convert/Distill.h"
#include "component/convert/WordPrint.h"
#include "system/Files.h"
#include "system/SystemServices.h"

namespace pm {
namespace {

constexpr const char* kGenericPrinter = "Generic PostScript Printer";

// The Word objects a printing method holds; the trap closes and quits what
// is still open before the error goes on.
struct WordSession {
  ObjectRef app, doc;

  template <class Body>
  void trap(Body&& body) {
    passErrorsOn(std::forward<Body>(body), [&] {
      if (doc) ignoreErrors([&] { call(doc, "Close", {Variant(false)}); });
      doc.reset();
      if (app) ignoreErrors([&] { call(app, "Quit"); });
      app.reset();
    });
  }

  // Steps 2 to 7 of printing through Word, into target, made at step 4: a
  // new temporary file (temporary), or the caller's output, whose previous
  // file is moved aside until the print-out replaced it.
  void print(const Variant& strMiscFile, const Variant& printer, std::optional<convert::PrintTarget>& target,
             bool temporary, const Variant& output) {
    app = CreateObject(office::kWordProgId);
    doc = objectOf(call(objectOf(get(app, "Documents")), "Open", {CStr(strMiscFile)}));
    let(app, "DisplayAlerts", Variant(int16_t{0}));
    Variant saved = get(app, "ActivePrinter");
    let(app, "ActivePrinter", printer);
    target.emplace(temporary, output);
    const std::string path = target->path();
    // Returns once the file is written.
    call(doc, "PrintOut",
         {Named("PrintToFile", Variant(true)), Named("Background", Variant(false)), Named("Outputfilename", path)});
    let(app, "ActivePrinter", saved);
    let(app, "DisplayAlerts", Variant(int16_t{-1}));
    call(doc, "Close", {Variant(false)});
    doc.reset();
    call(app, "Quit");
    app.reset();
  }
};

Variant CreatePSfromMiscFile(CreatePDF& self, Frame& f) {
  Variant& strPSFile = f["strPSFile"];
  Variant& strMiscFile = f["strMiscFile"];
  Variant& strDistiller = f["strDistiller"];
  if (!FileExists(strMiscFile)) raiseMissingFile(strMiscFile);
  WordSession word;
  word.trap([&] {
    // The printer the caller named, or the Distiller printer, which the
    // caller's variable then holds.
    if (Trim(CStr(strDistiller)).empty()) strDistiller = Variant(self.strPrinterName);
    std::optional<convert::PrintTarget> target;
    word.print(strMiscFile, strDistiller, target, false, strPSFile);
    target->printed();
  });
  return {};
}

Variant CreatePSfromMiscFile2(CreatePDF&, Frame& f) {
  Variant& strPSFile = f["strPSFile"];
  Variant& strMiscFile = f["strMiscFile"];
  if (!FileExists(strMiscFile)) raiseMissingFile(strMiscFile);
  WordSession word;
  word.trap([&] {
    std::optional<convert::PrintTarget> target;
    word.print(strMiscFile, f["strPrinter"], target, false, strPSFile);
    target->printed();
  });
  return {};
}

Variant CreatePDFfromMiscFile(CreatePDF& self, Frame& f) {
  Variant& strPDFFile = f["strPDFFile"];
  Variant& strMiscFile = f["strMiscFile"];
  if (!FileExists(strMiscFile)) raiseMissingFile(strMiscFile);
  WordSession word;
  ObjectRef secure;
  word.trap([&] {
    // Created exclusively, so no other file can take its name; removed
    // however the method ends.
    std::optional<convert::PrintTarget> temp;
    word.print(strMiscFile, f["strPrinter"], temp, true, Variant());
    // The existing PDF stays until the Distiller replaces it with the new
    // one, so a failed job leaves it as it was.
    distillStep(self, temp->path(), CStr(strPDFFile), f["blnShowWindow"], f["blnSpoolJobs"], f["strJobOptionsFile"],
                f["blnApplySecurity"], secure);
  });
  return {};
}

void describe(Members<CreatePDF>& m) {
  m.method("CreatePSfromMiscFile", {P("strPSFile").path(), P("strMiscFile").path(), P("strDistiller").path().opt("")},
           &CreatePSfromMiscFile,
           "Print a document that Word can open to a PostScript file through the Distiller printer or the one named.")
      .method("CreatePSfromMiscFile2",
              {P("strPSFile").path(), P("strMiscFile").path(), P("strPrinter").path().opt(kGenericPrinter)},
              &CreatePSfromMiscFile2,
              "Print a document that Word can open to a PostScript file through a PostScript printer.")
      .method("CreatePDFfromMiscFile",
              {P("strPDFFile").path(), P("strMiscFile").path(), P("strPrinter").path().opt(kGenericPrinter),
               P("blnShowWindow").opt(false), P("blnSpoolJobs").opt(false), P("strJobOptionsFile").path().opt(""),
               P("blnApplySecurity").opt(false)},
              &CreatePDFfromMiscFile,
              "Print a document that Word can open through a PostScript printer and convert it to PDF.");
}

const CreatePDFMembers::Register reg("convert_miscfile", &describe);

}  // namespace
}  // namespace pm
