// Plain text files to formatted PostScript or PDF: CreatePDFfromTextFile and
// CreatePSfromTextFile. The text is opened as a Word document, formatted as a
// whole, and printed the way the Word conversions print.
#include "automation/surfaces/Office.h"
#include "component/frame/CreatePDF.h"
#include "component/convert/WordPrint.h"

namespace pm::convert {
namespace {

// Parameter positions, the same for both methods up to strDistiller.
enum : size_t {
  kOut,
  kText,
  kLandscape,
  kFont,
  kBold,
  kSize,
  kColor,
  kItalic,
  kUnderline,
  kInFooter,
  kInHeader,
  kAlign,
  kTop,
  kLeft,
  kRight,
  kBottom,
  kFirstPage,
  kDistiller,
  kShowWindow,
  kSpoolJobs,
  kJobOptions,
  kApplySecurity
};

void convertText(CreatePDF& self, Frame& f, bool pdf) {
  requireInput(f[kText]);
  WordRun run;
  officeTrap(self, run, pdf, [&] {
    run.app = CreateObject(office::kWordProgId);
    ObjectRef docs = objectOf(get(run.app, "Documents"));
    run.doc = objectOf(call(docs, "Open", {Arg(f[kText])}));
    docs.reset();
    // Here a failure to set the orientation ends the conversion.
    ObjectRef setup = objectOf(get(run.doc, "PageSetup"));
    let(setup, "Orientation", Variant(CBool(f[kLandscape]) ? int16_t{1} : int16_t{0}));
    ObjectRef font = objectOf(get(objectOf(get(run.doc, "Content")), "Font"));
    std::string name = Trim(CStr(f[kFont]));
    if (!name.empty()) let(font, "Name", Variant(name));
    let(font, "Bold", f[kBold]);
    let(font, "Size", f[kSize]);
    if (CDbl(f[kColor]) > 0) let(font, "Color", f[kColor]);
    let(font, "Italic", f[kItalic]);
    let(font, "Underline", f[kUnderline]);
    int16_t align = pageNumberAlignment(f[kAlign]);
    addPageNumbers(run.doc, CBool(f[kInFooter]), CBool(f[kInHeader]), align, f[kFirstPage]);
    // Margins in points, only those above 0.
    const std::pair<size_t, const char*> margins[] = {
        {kTop, "TopMargin"}, {kLeft, "LeftMargin"}, {kRight, "RightMargin"}, {kBottom, "BottomMargin"}};
    for (const auto& [index, property] : margins)
      if (CDbl(f[index]) > 0) let(setup, property, f[index]);
    setup.reset();
    let(run.app, "DisplayAlerts", Variant(int16_t{0}));
    Variant saved = get(run.app, "ActivePrinter");
    let(run.app, "ActivePrinter", Variant(printerFor(self, f[kDistiller])));
    PrintTarget printTo(pdf, f[kOut], pdf ? ".pdf" : ".ps");
    const std::string& out = printTo.path();
    printWord(run.doc, out, "", pdf);
    let(run.app, "ActivePrinter", saved);
    let(run.app, "DisplayAlerts", Variant(int16_t{-1}));
    call(font, "Reset");
    font.reset();
    call(run.doc, "Close", {Variant(false)});
    run.doc.reset();
    call(run.app, "Quit");
    run.app.reset();
    if (!pdf) return printTo.printed();
    std::string target = CStr(f[kOut]);
    distill(self, run, out, target, f[kShowWindow], f[kSpoolJobs], f[kJobOptions], f[kApplySecurity]);
  });
}

Variant CreatePDFfromTextFile(CreatePDF& self, Frame& f) {
  convertText(self, f, true);
  return {};
}

Variant CreatePSfromTextFile(CreatePDF& self, Frame& f) {
  convertText(self, f, false);
  return {};
}

std::vector<ParamSpec> textParams(const char* output) {
  return {P(output).path(),
          P("strTextFile").path(),
          P("blnLandscape").opt(false),
          P("strFont").opt(""),
          P("blnFontBold").opt(false),
          P("intFontSize").opt(int16_t{8}),
          P("lngFontColor").opt(int32_t{0}),
          P("blnFontItalic").opt(false),
          P("blnFontUnderline").opt(false),
          P("blnPageNumberInFooter").opt(false),
          P("blnPageNumberInHeader").opt(false),
          P("lngPageNumberAlignment").opt(int32_t{1}),
          P("sngTopMargin").opt(0.0f),
          P("sngLeftMargin").opt(0.0f),
          P("sngRightMargin").opt(0.0f),
          P("sngBottomMargin").opt(0.0f),
          P("blnFirstPage").opt(false),
          P("strDistiller").path().opt("")};
}

void describe(Members<CreatePDF>& m) {
  std::vector<ParamSpec> pdf = textParams("strPDFFile");
  for (ParamSpec p : {P("blnShowWindow").opt(false), P("blnSpoolJobs").opt(false),
                      P("strJobOptionsFile").path().opt(""), P("blnApplySecurity").opt(false)})
    pdf.push_back(p);
  m.method("CreatePDFfromTextFile", pdf, &CreatePDFfromTextFile,
           "Format a text file, print it through the Distiller printer and distill it into a PDF file.")
      .method("CreatePSfromTextFile", textParams("strPSFile"), &CreatePSfromTextFile,
              "Format a text file and print it to a PostScript file through the Distiller printer.");
}

const CreatePDFMembers::Register reg("convert_text", &describe);

}  // namespace
}  // namespace pm::convert
