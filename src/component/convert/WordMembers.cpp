// Word documents to PostScript or PDF: CreatePDFfromWord, CreatePDFfromWord2,
// CreatePSfromWord, CreatePSfromWord2.
#include "automation/surfaces/Office.h"
#include "component/frame/CreatePDF.h"
#include "component/convert/WordPrint.h"

namespace pm::convert {
namespace {

// Where the four methods differ.
struct WordVariant {
  bool pdf;            // print to a temporary file and distill it
  bool callerPrinter;  // the "2" methods: strPrinter as passed
};

// The parameters of one call, by meaning rather than by position.
struct WordArgs {
  Variant* output;  // strPDFFile or strPSFile
  Variant* document;
  Variant* printer;  // strPrinter ("2") or strDistiller, may be null
  Variant* password;
  Variant* writePassword;
  Variant* pages;
  Variant* landscape;
  Variant* inFooter;
  Variant* inHeader;
  Variant* alignment;
  Variant* firstPage;
  Variant* showWindow = nullptr;
  Variant* spoolJobs = nullptr;
  Variant* jobOptions = nullptr;
  Variant* applySecurity = nullptr;
};

void convertWord(CreatePDF& self, const WordVariant& how, const WordArgs& a) {
  requireInput(*a.document);
  WordRun run;
  officeTrap(self, run, how.pdf, [&] {
    run.app = CreateObject(office::kWordProgId);
    ObjectRef docs = objectOf(get(run.app, "Documents"));
    run.doc = objectOf(call(
        docs, "Open",
        {Arg(*a.document), Named("PasswordDocument", *a.password), Named("WritePasswordDocument", *a.writePassword)}));
    docs.reset();
    let(run.app, "DisplayAlerts", Variant(int16_t{0}));
    // A failure to set the orientation is not a reason to stop.
    ignoreErrors([&] {
      ObjectRef setup = objectOf(get(run.doc, "PageSetup"));
      let(setup, "Orientation", Variant(int16_t{CBool(*a.landscape) ? int16_t{1} : int16_t{0}}));
    });
    int16_t align = pageNumberAlignment(*a.alignment);
    addPageNumbers(run.doc, CBool(*a.inFooter), CBool(*a.inHeader), align, *a.firstPage);
    Variant saved = get(run.app, "ActivePrinter");
    std::string printer = how.callerPrinter ? CStr(*a.printer) : printerFor(self, *a.printer);
    let(run.app, "ActivePrinter", Variant(printer));
    // The PostScript methods print straight to their output
    std::string pages = CStr(*a.pages);
    const bool exportPdf = how.pdf && Trim(pages).empty();
    PrintTarget printTo(how.pdf, *a.output, exportPdf ? ".pdf" : ".ps");
    const std::string& out = printTo.path();
    printWord(run.doc, out, pages, exportPdf);
    finishWord(run, saved);
    if (!how.pdf) return printTo.printed();
    std::string pdf = CStr(*a.output);
    distill(self, run, out, pdf, *a.showWindow, *a.spoolJobs, *a.jobOptions, *a.applySecurity);
  });
}

Variant CreatePDFfromWord(CreatePDF& self, Frame& f) {
  convertWord(self, {true, false},
              {&f["strPDFFile"], &f["strWordDocument"], &f["strDistiller"], &f["strPassword"], &f["strWritePassword"],
               &f["strPages"], &f["blnLandscape"], &f["blnPageNumberInFooter"], &f["blnPageNumberInHeader"],
               &f["lngPageNumberAlignment"], &f["blnFirstPage"], &f["blnShowWindow"], &f["blnSpoolJobs"],
               &f["strJobOptionsFile"], &f["blnApplySecurity"]});
  return {};
}

Variant CreatePDFfromWord2(CreatePDF& self, Frame& f) {
  convertWord(self, {true, true},
              {&f["strPDFFile"], &f["strWordDocument"], &f["strPrinter"], &f["strPassword"], &f["strWritePassword"],
               &f["strPages"], &f["blnLandscape"], &f["blnPageNumberInFooter"], &f["blnPageNumberInHeader"],
               &f["lngPageNumberAlignment"], &f["blnFirstPage"], &f["blnShowWindow"], &f["blnSpoolJobs"],
               &f["strJobOptionsFile"], &f["blnApplySecurity"]});
  return {};
}

Variant CreatePSfromWord(CreatePDF& self, Frame& f) {
  convertWord(self, {false, false},
              {&f["strPSFile"], &f["strWordDocument"], &f["strDistiller"], &f["strPassword"], &f["strWritePassword"],
               &f["strPages"], &f["blnLandscape"], &f["blnPageNumberInFooter"], &f["blnPageNumberInHeader"],
               &f["lngPageNumberAlignment"], &f["blnFirstPage"]});
  return {};
}

Variant CreatePSfromWord2(CreatePDF& self, Frame& f) {
  convertWord(self, {false, true},
              {&f["strPSFile"], &f["strWordDocument"], &f["strPrinter"], &f["strPassword"], &f["strWritePassword"],
               &f["strPages"], &f["blnLandscape"], &f["blnPageNumberInFooter"], &f["blnPageNumberInHeader"],
               &f["lngPageNumberAlignment"], &f["blnFirstPage"]});
  return {};
}

std::vector<ParamSpec> pageOptions() {
  return {P("strPassword").opt(""),
          P("strWritePassword").opt(""),
          P("strPages").opt(""),
          P("blnLandscape").opt(false),
          P("blnPageNumberInFooter").opt(false),
          P("blnPageNumberInHeader").opt(false),
          P("lngPageNumberAlignment").opt(int32_t{1}),
          P("blnFirstPage").opt(false)};
}

std::vector<ParamSpec> distillOptions() {
  return {P("blnShowWindow").opt(false), P("blnSpoolJobs").opt(false), P("strJobOptionsFile").path().opt(""),
          P("blnApplySecurity").opt(false)};
}

std::vector<ParamSpec> join(std::vector<ParamSpec> a, const std::vector<ParamSpec>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

void describe(Members<CreatePDF>& m) {
  auto opts = pageOptions();
  m.method(
       "CreatePDFfromWord",
       join(join(join({P("strPDFFile").path(), P("strWordDocument").path()}, opts), {P("strDistiller").path().opt("")}),
            distillOptions()),
       &CreatePDFfromWord, "Print a Word document through the Distiller printer and distill it into a PDF file.")
      .method("CreatePDFfromWord2",
              join(join({P("strPDFFile").path(), P("strWordDocument").path(),
                         P("strPrinter").path().opt("Generic PostScript Printer")},
                        opts),
                   distillOptions()),
              &CreatePDFfromWord2, "Print a Word document through a PostScript printer and distill it into a PDF file.")
      .method(
          "CreatePSfromWord",
          join(join({P("strPSFile").path(), P("strWordDocument").path()}, opts), {P("strDistiller").path().opt("")}),
          &CreatePSfromWord, "Print a Word document to a PostScript file through the Distiller printer.")
      .method("CreatePSfromWord2",
              join({P("strPSFile").path(), P("strWordDocument").path(),
                    P("strPrinter").path().opt("Generic PostScript Printer")},
                   opts),
              &CreatePSfromWord2, "Print a Word document to a PostScript file through a PostScript printer.");
}

const CreatePDFMembers::Register reg("convert_word", &describe);

}  // namespace
}  // namespace pm::convert
