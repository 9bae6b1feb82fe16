// Publisher publications to PostScript or PDF: CreatePDFfromPub,
// CreatePDFfromPub2, CreatePSfromPub, CreatePSfromPub2. The publication
// prints whole, and the method waits until the printed file is complete.
#include "automation/surfaces/Office.h"
#include "component/frame/CreatePDF.h"
#include "component/convert/PrintFileWait.h"
#include "component/convert/WordPrint.h"

namespace pm::convert {
namespace {

struct PubArgs {
  Variant* output;
  Variant* publication;
  Variant* printer;  // strPrinter ("2") or strDistiller
  Variant* showWindow = nullptr;
  Variant* spoolJobs = nullptr;
  Variant* jobOptions = nullptr;
  Variant* applySecurity = nullptr;
};

ObjectRef activeDocument(const ObjectRef& app) {
  return objectOf(get(app, "ActiveDocument"));
}

void convertPub(CreatePDF& self, bool pdf, bool second, const PubArgs& a) {
  requireInput(*a.publication);
  WordRun run;
  try {
    // The result of Open is not used.
    run.app = CreateObject(office::kPublisherProgId);
    call(run.app, "Open", {Arg(*a.publication)});
    std::string saved = CStr(get(activeDocument(run.app), "ActivePrinter"));
    // The Distiller printer name is written back to the caller.
    if (!second && Trim(CStr(*a.printer)).empty()) *a.printer = Variant(self.strPrinterName);
    let(activeDocument(run.app), "ActivePrinter", *a.printer);
    // The PDF methods take the office's own PDF of the publication, which the
    // Distiller takes as it is; the export returns with the file complete.
    PrintTarget printTo(pdf, *a.output, pdf ? ".pdf" : ".ps");
    const std::string& out = printTo.path();
    constexpr int16_t kFixedFormatPdf = 2;
    if (pdf) {
      call(activeDocument(run.app), "ExportAsFixedFormat",
           {Named("Format", Variant(kFixedFormatPdf)), Named("Filename", Variant(out))});
    } else {
      call(activeDocument(run.app), "PrintOut", {Variant::missing(), Variant::missing(), Variant(out)});
      waitForPrintFile(out);
    }
    let(activeDocument(run.app), "ActivePrinter", Variant(saved));
    call(activeDocument(run.app), "Close");
    call(run.app, "Quit");
    run.app.reset();
    if (!pdf) return printTo.printed();
    std::string target = CStr(*a.output);
    distill(self, run, out, target, *a.showWindow, *a.spoolJobs, *a.jobOptions, *a.applySecurity);
  } catch (...) {
    // The trap: the active document closed, Publisher quit, the Distiller
    // objects let go; errors of this clean-up are ignored, and the error
    // that entered the trap is the one raised.
    AutomationError e = currentAsAutomationError();
    if (run.app) {
      ignoreErrors([&] { call(activeDocument(run.app), "Close"); });
      ignoreErrors([&] { call(run.app, "Quit"); });
    }
    run.app.reset();
    if (pdf && !second) {
      ignoreErrors([&] { self.setDistiller(nullptr); });
      run.secure.reset();
    }
    throw AutomationError(e.number(), kComponentTitle, e.description());
  }
}

Variant CreatePDFfromPub(CreatePDF& self, Frame& f) {
  convertPub(self, true, false,
             {&f["strPDFFile"], &f["strPubFile"], &f["strDistiller"], &f["blnShowWindow"], &f["blnSpoolJobs"],
              &f["strJobOptionsFile"], &f["blnApplySecurity"]});
  return {};
}
Variant CreatePDFfromPub2(CreatePDF& self, Frame& f) {
  convertPub(self, true, true,
             {&f["strPDFFile"], &f["strPubFile"], &f["strPrinter"], &f["blnShowWindow"], &f["blnSpoolJobs"],
              &f["strJobOptionsFile"], &f["blnApplySecurity"]});
  return {};
}
Variant CreatePSfromPub(CreatePDF& self, Frame& f) {
  convertPub(self, false, false, {&f["strPSFile"], &f["strPubFile"], &f["strDistiller"]});
  return {};
}
Variant CreatePSfromPub2(CreatePDF& self, Frame& f) {
  convertPub(self, false, true, {&f["strPSFile"], &f["strPubFile"], &f["strPrinter"]});
  return {};
}

void describe(Members<CreatePDF>& m) {
  const std::vector<ParamSpec> tail = {P("blnShowWindow").opt(false), P("blnSpoolJobs").opt(false),
                                       P("strJobOptionsFile").path().opt(""), P("blnApplySecurity").opt(false)};
  auto with = [&](std::vector<ParamSpec> head) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  const ParamSpec printer = P("strPrinter").path().opt("Generic PostScript Printer");
  m.method("CreatePDFfromPub", with({P("strPDFFile").path(), P("strPubFile").path(), P("strDistiller").path().opt("")}),
           &CreatePDFfromPub,
           "Print a Publisher publication through the Distiller printer and distill it into a PDF file.")
      .method("CreatePDFfromPub2", with({P("strPDFFile").path(), P("strPubFile").path(), printer}), &CreatePDFfromPub2,
              "Print a Publisher publication through a PostScript printer and distill it into a PDF file.")
      .method("CreatePSfromPub", {P("strPSFile").path(), P("strPubFile").path(), P("strDistiller").path().opt("")},
              &CreatePSfromPub, "Print a Publisher publication to a PostScript file through the Distiller printer.")
      .method("CreatePSfromPub2", {P("strPSFile").path(), P("strPubFile").path(), printer}, &CreatePSfromPub2,
              "Print a Publisher publication to a PostScript file through a PostScript printer.");
}

const CreatePDFMembers::Register reg("convert_publisher", &describe);

}  // namespace
}  // namespace pm::convert
