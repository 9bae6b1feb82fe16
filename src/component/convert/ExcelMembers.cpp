// Excel worksheet ranges to PostScript or PDF: CreatePDFfromExcel,
// CreatePDFfromExcel2, CreatePSfromExcel, CreatePSfromExcel2 (one range of
// one sheet), CreatePDFfromMultiExcel and CreatePDFfromMultiExcel2 (a range
// of each of several sheets, joined into one PDF).
#include "automation/surfaces/Office.h"
#include "component/frame/CreatePDF.h"
#include "component/convert/PrintFileWait.h"
#include "component/frame/ModuleState.h"
#include "component/convert/WordPrint.h"
#include "system/Files.h"

namespace pm::convert {
namespace {

// The page set-up arguments, shared by all six methods.
struct SetupArgs {
  Variant* grid;
  Variant* header;
  Variant* headerAlign;
  Variant* footer;
  Variant* footerAlign;
  Variant* margins[6];  // top, left, right, bottom, header, footer
};

// Header placement: 1 centre, 0 left, anything else right. Footer
// placement: 0 left, 2 right, anything else centre.
const char* headerProperty(const Variant& a) {
  int32_t v = CLng(a);
  return v == 1 ? "CenterHeader" : v == 0 ? "LeftHeader" : "RightHeader";
}
const char* footerProperty(const Variant& a) {
  int32_t v = CLng(a);
  return v == 0 ? "LeftFooter" : v == 2 ? "RightFooter" : "CenterFooter";
}

// The page set-up of one worksheet. orientation is 0 when the sheet keeps
// its own.
void applySetup(const ObjectRef& app, const ObjectRef& ws, const SetupArgs& a, int16_t orientation,
                const Variant& firstPage) {
  ObjectRef setup = objectOf(get(ws, "PageSetup"));
  let(setup, "PrintGridlines", *a.grid);
  if (orientation) let(setup, "Orientation", Variant(orientation));
  // Written untrimmed.
  std::string header = CStr(*a.header), footer = CStr(*a.footer);
  if (!Trim(header).empty()) let(setup, headerProperty(*a.headerAlign), Variant(header));
  if (!Trim(footer).empty()) let(setup, footerProperty(*a.footerAlign), Variant(footer));
  static const char* const names[] = {"TopMargin",    "LeftMargin",   "RightMargin",
                                      "BottomMargin", "HeaderMargin", "FooterMargin"};
  for (int i = 0; i < 6; ++i)
    if (CDbl(*a.margins[i]) > 0) let(setup, names[i], call(app, "InchesToPoints", {Arg(*a.margins[i])}));
  let(setup, "FirstPageNumber", firstPage);
}

ObjectRef openWorkbook(WordRun& run, const Variant& workbook, const Variant& password, const Variant& writePassword) {
  run.app = CreateObject(office::kExcelProgId);
  ObjectRef books = objectOf(get(run.app, "Workbooks"));
  run.doc = objectOf(
      call(books, "Open", {Arg(workbook), Named("WriteResPassword", writePassword), Named("Password", password)}));
  books.reset();
  let(run.app, "DisplayAlerts", Variant(false));
  return run.doc;
}

void printRange(const ObjectRef& ws, const Variant& range, const std::string& out, const std::string& printer) {
  ObjectRef r = objectOf(get(ws, "Range", {Arg(range)}));
  call(
      r, "PrintOut",
      {Named("Copies", Variant(int16_t{1})), Named("preview", Variant(false)), Named("PrintToFile", Variant(true)),
       Named("Collate", Variant(true)), Named("PrToFilename", Variant(out)), Named("ActivePrinter", Variant(printer))});
}

// The range as the office's own PDF, the pages it prints on: the export
// returns with the file complete, so no wait follows, and the Distiller takes
// the PDF as it is unless a job option or security changes it.
void exportRange(const ObjectRef& ws, const Variant& range, const std::string& out) {
  constexpr int32_t kTypePdf = 0;
  ObjectRef r = objectOf(get(ws, "Range", {Arg(range)}));
  call(r, "ExportAsFixedFormat", {Named("Type", Variant(kTypePdf)), Named("Filename", Variant(out))});
}

void finishExcel(WordRun& run) {
  let(run.app, "DisplayAlerts", Variant(true));
  call(run.doc, "Close", {Variant(false)});
  run.doc.reset();
  call(run.app, "Quit");
  run.app.reset();
}

struct SingleArgs {
  Variant* output;
  Variant* workbook;
  Variant* sheet;
  Variant* range;
  Variant* printer;  // strPrinter ("2") or strDistiller
  Variant* password;
  Variant* writePassword;
  Variant* landscape;
  SetupArgs setup;
  Variant* firstPage;
  Variant* showWindow = nullptr;
  Variant* spoolJobs = nullptr;
  Variant* jobOptions = nullptr;
  Variant* applySecurity = nullptr;
};

void convertSheet(CreatePDF& self, bool pdf, bool callerPrinter, const SingleArgs& a) {
  requireInput(*a.workbook);
  WordRun run;
  officeTrap(self, run, pdf, [&] {
    openWorkbook(run, *a.workbook, *a.password, *a.writePassword);
    ObjectRef ws = objectOf(get(run.doc, "Worksheets", {Arg(*a.sheet)}));
    // A landscape sheet becomes portrait unless asked otherwise.
    applySetup(run.app, ws, a.setup, CBool(*a.landscape) ? int16_t{2} : int16_t{1}, *a.firstPage);
    // Written back to the caller.
    if (!callerPrinter && Trim(CStr(*a.printer)).empty()) *a.printer = Variant(self.strPrinterName);
    std::string printer = CStr(*a.printer);
    // The PostScript methods print straight into their output; the PDF
    // methods need no PostScript.
    PrintTarget printTo(pdf, *a.output, pdf ? ".pdf" : ".ps");
    const std::string& out = printTo.path();
    if (pdf) {
      exportRange(ws, *a.range, out);
    } else {
      printRange(ws, *a.range, out, printer);
      waitForPrintFile(out);
    }
    ws.reset();
    finishExcel(run);
    if (!pdf) return printTo.printed();
    std::string target = CStr(*a.output);
    distill(self, run, out, target, *a.showWindow, *a.spoolJobs, *a.jobOptions, *a.applySecurity);
  });
}

SetupArgs setupArgs(Frame& f) {
  return {&f["blnUseGrid"],
          &f["strHeader"],
          &f["lngHeaderAlignment"],
          &f["strFooter"],
          &f["lngFooterAlignment"],
          {&f["dblTopMargin"], &f["dblLeftMargin"], &f["dblRightMargin"], &f["dblBottomMargin"], &f["dblHeaderMargin"],
           &f["dblFooterMargin"]}};
}

// The four single-sheet members differ only in the names of their output
// (strPDFFile or strPSFile) and printer (strPrinter, in the "2" members, or
// strDistiller) and in the Distiller's arguments the PDF members add.
SingleArgs singleArgs(Frame& f, bool pdf, bool callerPrinter) {
  SingleArgs a{&f[pdf ? "strPDFFile" : "strPSFile"],
               &f["strExcelWorkbook"],
               &f["varExcelWorksheet"],
               &f["strRange"],
               &f[callerPrinter ? "strPrinter" : "strDistiller"],
               &f["strPassword"],
               &f["strWriteResPassword"],
               &f["blnLandscape"],
               setupArgs(f),
               &f["lngFirstPageNumber"]};
  if (pdf) {
    a.showWindow = &f["blnShowWindow"];
    a.spoolJobs = &f["blnSpoolJobs"];
    a.jobOptions = &f["strJobOptionsFile"];
    a.applySecurity = &f["blnApplySecurity"];
  }
  return a;
}

template <bool Pdf, bool CallerPrinter>
Variant convertOneSheet(CreatePDF& self, Frame& f) {
  convertSheet(self, Pdf, CallerPrinter, singleArgs(f, Pdf, CallerPrinter));
  return {};
}

// An omitted optional argument, or the empty object reference the type
// library declares as its default.
bool omitted(const Variant& v) {
  return v.isMissing() || (v.isObject() && !v.asObject());
}

struct MultiArgs {
  Variant* output;
  Variant* workbook;
  Variant* sheets;
  Variant* ranges;
  Variant* printer;  // strPrinter of the "2" method, else null
  Variant* password;
  Variant* writePassword;
  Variant* landscape;
  SetupArgs setup;
  Variant* firstPage;
  Variant* distiller;
  Variant* showWindow;
  Variant* spoolJobs;
  Variant* jobOptions;  // null: "" is passed on
  Variant* applySecurity;
};

void convertSheets(CreatePDF& self, const MultiArgs& a) {
  requireInput(*a.workbook);
  WordRun run;
  officeTrap(self, run, false, [&] {
    openWorkbook(run, *a.workbook, *a.password, *a.writePassword);
    // The first page numbers, indexes 0 to the upper bound of the list.
    if (!a.sheets->isArray()) raise(basic::TypeMismatch);
    const Array& sheets = a.sheets->array();
    const int32_t lower = sheets.lbound(1), upper = sheets.ubound(1);
    if (lower < INT16_MIN || upper > INT16_MAX) raise(basic::Overflow);
    std::vector<int32_t> firstPages(static_cast<size_t>(std::max(upper + 1, 0)), 1);
    if (!omitted(*a.firstPage)) {
      if (a.firstPage->isArray()) {
        const Array& given = a.firstPage->array();
        for (int32_t i = 0; i <= upper; ++i) firstPages[static_cast<size_t>(i)] = CLng(given.at({i}));
      } else {
        int32_t all = CLng(*a.firstPage);
        for (int32_t& p : firstPages) p = all;
      }
    }
    // Written back to the caller.
    if (Trim(CStr(*a.distiller)).empty()) *a.distiller = Variant(self.strPrinterName);
    std::string printer = a.printer ? CStr(*a.printer) : CStr(*a.distiller);
    const bool landscapes = !omitted(*a.landscape) && a.landscape->isArray();
    // The list of temporary files grows with each sheet printed.
    Variant temps(Array::vector({}));
    // Removed however the method ends.
    std::vector<std::unique_ptr<ExclusiveTempFile>> printed;
    for (int32_t i = lower; i <= upper; ++i) {
      // Pending window messages: a server process has none to process.
      ObjectRef ws = objectOf(get(run.doc, "Worksheets", {Arg(sheets.at({i}))}));
      int16_t orientation = 0;
      if (landscapes) orientation = CBool(a.landscape->array().at({i})) ? int16_t{2} : int16_t{1};
      if (i < 0) raise(basic::SubscriptOutOfRange);
      applySetup(run.app, ws, a.setup, orientation, Variant(firstPages[static_cast<size_t>(i)]));
      printed.push_back(std::make_unique<ExclusiveTempFile>(moduleState().strTempFilePath, ".ps"));
      std::string out = printed.back()->path();
      Array list = temps.array();
      if (list.ubound(1) < i) list.redimPreserve(i);
      for (Variant& e : list.data())
        if (e.isEmpty()) e = Variant("");
      list.set({i}, Variant(out));
      temps = Variant(std::move(list));
      printRange(ws, a.ranges->array().at({i}), out, printer);
      waitForPrintFile(out);
      printed.back()->adopt();
    }
    finishExcel(run);
    Variant jobOptions = a.jobOptions ? *a.jobOptions : Variant("");
    call(self.shared_from_this(), "CreatePDFfromMultiPS",
         {ByRef(*a.output), ByRef(temps), ByRef(*a.distiller), ByRef(*a.showWindow), ByRef(*a.spoolJobs),
          ByRef(jobOptions), ByRef(*a.applySecurity)});
    // Without an existence test.
    const Array& list = temps.array();
    for (int32_t i = lower; i <= upper; ++i) Kill(CStr(list.at({i})));
  });
}

// The two members differ in the printer: the Distiller printer, or strPrinter
// in the "2" member, which alone takes a job options file.
template <bool CallerPrinter>
Variant convertSheetList(CreatePDF& self, Frame& f) {
  convertSheets(self,
                {&f["strPDFFile"], &f["strExcelWorkbook"], &f["varExcelWorksheets"], &f["varRanges"],
                 CallerPrinter ? &f["strPrinter"] : nullptr, &f["strPassword"], &f["strWriteResPassword"],
                 &f["varLandscape"], setupArgs(f), &f["varFirstPageNumber"], &f["strDistiller"], &f["blnShowWindow"],
                 &f["blnSpoolJobs"], CallerPrinter ? &f["strJobOptionsFile"] : nullptr, &f["blnApplySecurity"]});
  return {};
}

std::vector<ParamSpec> join(std::vector<ParamSpec> a, const std::vector<ParamSpec>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// strPassword through lngFirstPageNumber; multi gives the two optional
// arrays in place of blnLandscape and lngFirstPageNumber.
std::vector<ParamSpec> setupParams(bool multi) {
  std::vector<ParamSpec> p = {
      P("strPassword").opt(""),   P("strWriteResPassword").opt(""),
      P("blnUseGrid").opt(false), multi ? P("varLandscape").opt() : P("blnLandscape").opt(false),
      P("strHeader").opt(""),     P("lngHeaderAlignment").opt(int32_t{1}),
      P("strFooter").opt(""),     P("lngFooterAlignment").opt(int32_t{0})};
  for (const char* m :
       {"dblTopMargin", "dblLeftMargin", "dblRightMargin", "dblBottomMargin", "dblHeaderMargin", "dblFooterMargin"})
    p.push_back(P(m).opt(0.0));
  p.push_back(multi ? P("varFirstPageNumber").opt() : P("lngFirstPageNumber").opt(int32_t{1}));
  return p;
}

void describe(Members<CreatePDF>& m) {
  const std::vector<ParamSpec> head = {P("strPDFFile").path(), P("strExcelWorkbook").path(), P("varExcelWorksheet"),
                                       P("strRange")};
  const std::vector<ParamSpec> psHead = {P("strPSFile").path(), P("strExcelWorkbook").path(), P("varExcelWorksheet"),
                                         P("strRange")};
  const std::vector<ParamSpec> multiHead = {P("strPDFFile").path(), P("strExcelWorkbook").path(),
                                            P("varExcelWorksheets"), P("varRanges")};
  const ParamSpec printer = P("strPrinter").path().opt("Generic PostScript Printer");
  const std::vector<ParamSpec> show = {P("blnShowWindow").opt(false), P("blnSpoolJobs").opt(false)};
  const std::vector<ParamSpec> distillTail = {P("strJobOptionsFile").path().opt(""), P("blnApplySecurity").opt(false)};
  m.method("CreatePDFfromExcel",
           join(join(join(join(head, setupParams(false)), {P("strDistiller").path().opt("")}), show), distillTail),
           &convertOneSheet<true, false>,
           "Print a range of an Excel worksheet through the Distiller printer and distill it into a PDF file.")
      .method("CreatePDFfromExcel2", join(join(join(join(head, {printer}), setupParams(false)), show), distillTail),
              &convertOneSheet<true, true>,
              "Print a range of an Excel worksheet through a PostScript printer and distill it into a PDF file.")
      .method("CreatePSfromExcel",
              join(join(join(psHead, setupParams(false)), {P("strDistiller").path().opt("")}), show),
              &convertOneSheet<false, false>,
              "Print a range of an Excel worksheet to a PostScript file through the Distiller printer.")
      .method("CreatePSfromExcel2", join(join(psHead, {printer}), setupParams(false)), &convertOneSheet<false, true>,
              "Print a range of an Excel worksheet to a PostScript file through a PostScript printer.")
      .method("CreatePDFfromMultiExcel",
              join(join(join(multiHead, setupParams(true)), {P("strDistiller").path().opt("")}),
                   join(show, {P("blnApplySecurity").opt(false)})),
              &convertSheetList<false>, "Print a range of each of several worksheets and join them into one PDF file.")
      .method(
          "CreatePDFfromMultiExcel2",
          join(join(join(join(multiHead, {printer}), setupParams(true)), {P("strDistiller").path().opt("")}),
               join(show, distillTail)),
          &convertSheetList<true>,
          "Print a range of each of several worksheets through a PostScript printer and join them into one PDF file.");
}

const CreatePDFMembers::Register reg("convert_excel", &describe);

}  // namespace
}  // namespace pm::convert
