// A document of Word.Application: Close, SaveAs and PrintOut. Printing to
// a file: the document is exported to PDF by the office and the PDF becomes
// PostScript that keeps its text (PostScriptText.h). The office builds
// without a GUI toolkit (the -nogui packages) have no printers at all, and
// even the full builds print to file only through a CUPS queue; the export
// road gives the same pages with no printer installed.

// GCC 12 takes a member of std::regex's compiled states for uninitialised
// when the sanitizers instrument this file (a known false positive of its
// flow analysis); the warning says nothing about this code.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>

#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/style/XStyle.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/text/XPageCursor.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/text/XTextViewCursorSupplier.hpp>

#include "servers/office/PostScriptText.h"
#include "system/AtomicFile.h"
#include "system/Files.h"
#include "system/SystemServices.h"
#include "servers/office/WordObjects.h"

namespace pm::office::word {

using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

// The page styles the body text uses: what Word calls the page setup of
// the document.
std::vector<Reference<XPropSet>> WordDocument::usedPageStyles(const Reference<css::lang::XComponent>& m) {
  Reference<css::style::XStyleFamiliesSupplier> sup(m, UNO_QUERY_THROW);
  Reference<css::container::XNameAccess> styles(sup->getStyleFamilies()->getByName("PageStyles"), UNO_QUERY_THROW);
  std::vector<Reference<XPropSet>> out;
  for (const ::rtl::OUString& n : styles->getElementNames()) {
    Reference<css::style::XStyle> st(styles->getByName(n), UNO_QUERY);
    if (st.is() && st->isInUse()) out.emplace_back(st, UNO_QUERY);
  }
  if (out.empty()) out.push_back(firstPageStyle(m));
  return out;
}

// The page style of the first paragraph: the first section's.
Reference<XPropSet> WordDocument::firstPageStyle(const Reference<css::lang::XComponent>& m) {
  Reference<css::text::XTextDocument> doc(m, UNO_QUERY_THROW);
  Reference<css::text::XText> text = doc->getText();
  Reference<XPropSet> start(text->createTextCursorByRange(text->getStart()), UNO_QUERY_THROW);
  ::rtl::OUString name = getProp<::rtl::OUString>(start, "PageStyleName");
  Reference<css::style::XStyleFamiliesSupplier> sup(m, UNO_QUERY_THROW);
  Reference<css::container::XNameAccess> styles(sup->getStyleFamilies()->getByName("PageStyles"), UNO_QUERY_THROW);
  return Reference<XPropSet>(styles->getByName(name), UNO_QUERY_THROW);
}

int32_t WordDocument::pageCount(const Reference<css::lang::XComponent>& m) {
  Reference<css::frame::XModel> model(m, UNO_QUERY_THROW);
  Reference<XPropSet> ctl(model->getCurrentController(), UNO_QUERY);
  if (ctl.is()) {
    try {
      return getProp<sal_Int32>(ctl, "PageCount");
    } catch (const css::uno::Exception&) {
    }
  }
  Reference<css::text::XTextViewCursorSupplier> vs(model->getCurrentController(), UNO_QUERY_THROW);
  Reference<css::text::XPageCursor> pc(vs->getViewCursor(), UNO_QUERY_THROW);
  pc->jumpToLastPage();
  return pc->getPage();
}

// Close(SaveChanges): nothing is ever saved by this server. wdDoNotSaveChanges
// (0, False) and an omitted argument close the document; asking to save
// is refused rather than dropped.
Variant WordDocument::Close(Frame& f) {
  if (!f.missing("SaveChanges")) {
    int32_t save = CLng(f["SaveChanges"]);
    if (save != 0) fail(kErrCommandFailed, "Close with saving is not supported: documents are closed without saving.");
  }
  model_.closeOrRaise();
  return {};
}

// SaveAs(FileName, FileFormat, LockComments, Password, AddToRecentFiles,
// WritePassword): the format follows the extension (.odt, .docx, .doc,
// .rtf, .txt); a password encrypts the saved file (.odt).
Variant WordDocument::SaveAs(Frame& f) {
  std::string target = CStr(f["FileName"]);
  std::string ext = lowerExtension(target);
  const char* filter = ext == ".odt"    ? "writer8"
                       : ext == ".docx" ? "MS Word 2007 XML"
                       : ext == ".doc"  ? "MS Word 97"
                       : ext == ".rtf"  ? "Rich Text Format"
                       : ext == ".txt"  ? "Text (encoded)"
                                        : nullptr;
  if (!filter) fail(kErrCommandFailed, "SaveAs: no file format for the extension of " + target + ".");
  if (!f.missing("FileFormat"))
    fail(kErrCommandFailed, "SaveAs: FileFormat is not supported; the format follows the extension.");
  std::string pwd = f.missing("Password") ? std::string() : CStr(f["Password"]);
  std::string wpwd = f.missing("WritePassword") ? std::string() : CStr(f["WritePassword"]);
  if (!wpwd.empty()) fail(kErrCommandFailed, "SaveAs: a write password is not supported.");
  // The office encrypts only its own format reliably; a password it would
  // drop for another format is refused rather than ignored.
  if (!pwd.empty() && ext != ".odt") fail(kErrCommandFailed, "SaveAs: a password can protect .odt files only.");
  // A copy without the comments the document came with would lose them
  // unseen.
  if (commentsSetAside_ > 0)
    fail(kErrCommandFailed, "SaveAs: " + model_.path() +
                                " has reviewer comments, which this office cannot hold open; the " +
                                "document can be printed and exported, but not saved as another file.");
  std::unique_ptr<WorkFile> work;
  with("saving", [&](const Reference<css::lang::XComponent>& m, Session&) {
    std::vector<css::beans::PropertyValue> md = {prop("FilterName", ::rtl::OUString::createFromAscii(filter)),
                                                 prop("Overwrite", true)};
    if (ext == ".txt") md.push_back(prop("FilterOptions", ::rtl::OUString("UTF8,CRLF,,,")));
    if (!pwd.empty()) md.push_back(prop("Password", fromUtf8(pwd)));
    Reference<css::frame::XStorable> store(m, UNO_QUERY_THROW);
    work = std::make_unique<WorkFile>(target);
    store->storeToURL(fileUrl(work->path()), props(md));
  });
  deliverWorkFile(work->path(), target, "SaveAs", kErrCommandFailed, kSource);
  return {};
}

// Word's page list: numbers and ranges separated by commas ("1,3,5-7").
bool validPages(const std::string& pages) {
  static const std::regex re(R"(^\s*\d+\s*(-\s*\d+\s*)?(,\s*\d+\s*(-\s*\d+\s*)?)*$)");
  return std::regex_match(pages, re);
}

namespace {

// What a caller of the export may ask of the file beyond its pages.
struct ExportKind {
  bool archival = false;  // PDF/A-1b (UseISO19005_1)
  bool tagged = false;    // the document's structure as tags (DocStructureTags)
};

// The office's own PDF of the model (all pages, or those pageRange names)
// into pdf: what printing turns into PostScript and the export hands on.
void exportPdf(const Reference<css::lang::XComponent>& m, const std::string& pdf, const std::string& pageRange,
               ExportKind kind = {}) {
  std::vector<css::beans::PropertyValue> filterData;
  if (!pageRange.empty()) filterData.push_back(prop("PageRange", fromUtf8(pageRange)));
  // The office's PDF/A-1b embeds every font and writes the identification
  // and the sRGB output intent itself.
  if (kind.archival) filterData.push_back(prop("SelectPdfVersion", sal_Int32{1}));
  if (kind.tagged) filterData.push_back(prop("UseTaggedPDF", true));
  css::uno::Sequence<css::beans::PropertyValue> fd = props(filterData);
  std::vector<css::beans::PropertyValue> md = {prop("FilterName", ::rtl::OUString("writer_pdf_Export")),
                                               prop("FilterData", fd)};
  Reference<css::frame::XStorable> store(m, UNO_QUERY_THROW);
  store->storeToURL(fileUrl(pdf), props(md));
}

}  // namespace

// PrintOut(Background, Append, Range, OutputFileName, From, To, Item, Copies,
// Pages, PageType, PrintToFile, Collate, FileName, ...). The output always
// goes to OutputFileName as PostScript; the call returns when the file is
// complete, also when Background is True.
Variant WordDocument::PrintOut(Frame& f) {
  auto app = app_.lock();
  std::string printer = app ? app->activePrinter() : kGenericPostScript;
  if (!f.missing("Append") && truthy(f["Append"])) fail(kErrCommandFailed, "PrintOut: Append is not supported.");
  int32_t range = f.missing("Range") ? 0 : CLng(f["Range"]);
  std::string out = f.missing("OutputFileName") ? std::string() : CStr(f["OutputFileName"]);
  if (!f.missing("Item") && CLng(f["Item"]) != 0)
    fail(kErrCommandFailed, "PrintOut: only the document's content can be printed (Item 0).");
  if (!f.missing("Copies") && CLng(f["Copies"]) != 1)
    fail(kErrCommandFailed, "PrintOut: only one copy can be printed to a file.");
  if (!f.missing("PageType") && CLng(f["PageType"]) != 0)
    fail(kErrCommandFailed, "PrintOut: only all pages (PageType 0) can be printed.");
  if (!f.missing("FileName") && !CStr(f["FileName"]).empty())
    fail(kErrCommandFailed, "PrintOut: FileName (printing another document) is not supported.");
  if (Trim(out).empty())
    fail(kErrCommandFailed,
         "PrintOut: this server prints to files only; give OutputFileName (printer \"" + printer + "\").");

  std::string pageRange;  // empty: every page
  switch (range) {
    case 0:
      break;   // wdPrintAllDocument
    case 3: {  // wdPrintFromTo
      int32_t from = f.missing("From") ? 1 : CLng(CStr(f["From"]).empty() ? Variant(int32_t{1}) : f["From"]);
      int32_t to = f.missing("To") || CStr(f["To"]).empty() ? 0 : CLng(f["To"]);
      if (from < 1 || (to != 0 && to < from)) fail(kErrOutOfRange, "PrintOut: the page range From/To is not valid.");
      pageRange = std::to_string(from) + "-" + (to ? std::to_string(to) : std::string());
      break;
    }
    case 4: {  // wdPrintRangeOfPages
      std::string pages = f.missing("Pages") ? std::string() : CStr(f["Pages"]);
      if (!validPages(pages)) fail(kErrOutOfRange, "PrintOut: the page range \"" + pages + "\" is not valid.");
      for (char c : pages)
        if (!std::isspace(static_cast<unsigned char>(c))) pageRange += c;
      break;
    }
    default:
      fail(kErrOutOfRange,
           "PrintOut: Range " + std::to_string(range) + " is not supported (0 all, 3 from-to, 4 pages).");
  }

  // The office writes the pages as PDF into its private folder. A page list
  // that names no page of the document would print nothing: that is an
  // error, not an empty file.
  std::string pdf;
  int32_t pages = 0;
  bool anyPage = true;
  with("printing", [&](const Reference<css::lang::XComponent>& m, Session&) {
    pages = pageCount(m);
    if (!pageRange.empty()) {
      anyPage = false;
      std::regex num(R"(\d+)");
      for (auto it = std::sregex_iterator(pageRange.begin(), pageRange.end(), num); it != std::sregex_iterator(); ++it)
        if (std::stol(it->str()) <= pages && std::stol(it->str()) >= 1) anyPage = true;
      if (!anyPage) return;
    }
    pdf = OfficeBridge::instance().workDir() + "/print-" + GetRandomFileName() + ".pdf";
    exportPdf(m, pdf, pageRange);
  });
  if (!anyPage)
    fail(kErrOutOfRange, "PrintOut: the page range \"" + pageRange + "\" names no page of the document (" +
                             std::to_string(pages) + " pages).");
  struct RemovePdf {
    std::string p;
    ~RemovePdf() { ::unlink(p.c_str()); }
  } removePdf{pdf};
  struct stat st {};
  if (::stat(pdf.c_str(), &st) != 0 || st.st_size == 0) fail(kErrCommandFailed, "PrintOut: the office wrote no pages.");

  PostScriptJob ps;
  ps.timeout = OfficeBridge::instance().callTimeout();
  ps.errorNumber = kErrCommandFailed;
  ps.source = kSource;
  printPdfToPostScript(pdf, out, ps);
  return {};
}

// ExportAsFixedFormat(OutputFileName, ExportFormat, OpenAfterExport,
// OptimizeFor, Range, From, To, Item, ...): the office's own PDF of the
// document (wdExportFormatPDF), all of it or pages From to To, written
// beside OutputFileName and renamed into place when complete. UseISO19005_1
// True makes it PDF/A-1b and DocStructureTags True tags its structure; left
// out, neither is done, which keeps the plain export as small and quick as
// printing needs it.
Variant WordDocument::ExportAsFixedFormat(Frame& f) {
  constexpr int32_t kFormatPdf = 17, kAllDocument = 0, kFromTo = 3;
  std::string out = CStr(f["OutputFileName"]);
  if (Trim(out).empty()) fail(kErrCommandFailed, "ExportAsFixedFormat: give OutputFileName.");
  if (CLng(f["ExportFormat"]) != kFormatPdf)
    fail(kErrCommandFailed, "ExportAsFixedFormat: only PDF (ExportFormat 17) can be written by this server.");
  if (!f.missing("OpenAfterExport") && truthy(f["OpenAfterExport"]))
    fail(kErrCommandFailed, "ExportAsFixedFormat: this server cannot open the exported file.");
  if (!f.missing("Item") && CLng(f["Item"]) != 0)
    fail(kErrCommandFailed, "ExportAsFixedFormat: only the document's content can be exported (Item 0).");
  int32_t range = f.missing("Range") ? kAllDocument : CLng(f["Range"]);
  std::string pageRange;
  if (range == kFromTo) {
    int32_t from = f.missing("From") ? 1 : CLng(f["From"]);
    int32_t to = f.missing("To") ? 0 : CLng(f["To"]);
    if (from < 1 || (to != 0 && to < from))
      fail(kErrOutOfRange, "ExportAsFixedFormat: the page range From/To is not valid.");
    pageRange = std::to_string(from) + "-" + (to ? std::to_string(to) : std::string());
  } else if (range != kAllDocument) {
    fail(kErrOutOfRange,
         "ExportAsFixedFormat: Range " + std::to_string(range) + " is not supported (0 all, 3 from-to).");
  }
  std::string pdf = OfficeBridge::instance().workDir() + "/export-" + GetRandomFileName() + ".pdf";
  struct RemovePdf {
    std::string p;
    ~RemovePdf() { ::unlink(p.c_str()); }
  } removePdf{pdf};
  ExportKind kind;
  kind.archival = !f.missing("UseISO19005_1") && truthy(f["UseISO19005_1"]);
  kind.tagged = !f.missing("DocStructureTags") && truthy(f["DocStructureTags"]);
  with("exporting", [&](const Reference<css::lang::XComponent>& m, Session&) { exportPdf(m, pdf, pageRange, kind); });
  std::ifstream in(pdf, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty()) fail(kErrCommandFailed, "ExportAsFixedFormat: the office wrote no pages.");
  try {
    AtomicFile target(out);
    target.write(bytes);
    target.commit();
  } catch (const AtomicFileError& e) {
    raiseFileError(e.error(), out);
  }
  return {};
}

const MemberTable* WordDocument::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("Document");
    Members<WordDocument> m(table);
    m.get("PageSetup", {}, &WordDocument::PageSetup)
        .get("Sections", {P("Index").opt()}, &WordDocument::Sections)
        .get("Content", {}, &WordDocument::Content)
        .get("FullName", {}, &WordDocument::FullName)
        .method("ComputeStatistics", {P("Statistic"), P("IncludeFootnotesAndEndnotes").opt()},
                &WordDocument::ComputePages)
        .method("PrintOut",
                {P("Background").opt(), P("Append").opt(), P("Range").opt(), P("OutputFileName").path().opt(),
                 P("From").opt(), P("To").opt(), P("Item").opt(), P("Copies").opt(), P("Pages").opt(),
                 P("PageType").opt(), P("PrintToFile").opt(), P("Collate").opt(), P("FileName").path().opt(),
                 P("ActivePrinterMacGX").path().opt(), P("ManualDuplexPrint").opt(), P("PrintZoomColumn").opt(),
                 P("PrintZoomRow").opt(), P("PrintZoomPaperWidth").opt(), P("PrintZoomPaperHeight").opt()},
                &WordDocument::PrintOut)
        .method("ExportAsFixedFormat",
                {P("OutputFileName").path(), P("ExportFormat"), P("OpenAfterExport").opt(), P("OptimizeFor").opt(),
                 P("Range").opt(), P("From").opt(), P("To").opt(), P("Item").opt(), P("IncludeDocProps").opt(),
                 P("KeepIRM").opt(), P("CreateBookmarks").opt(), P("DocStructureTags").opt(),
                 P("BitmapMissingFonts").opt(), P("UseISO19005_1").opt()},
                &WordDocument::ExportAsFixedFormat)
        .method("Close", {P("SaveChanges").opt(), P("OriginalFormat").opt(), P("RouteDocument").opt()},
                &WordDocument::Close)
        .method("SaveAs",
                {P("FileName").path(), P("FileFormat").opt(), P("LockComments").opt(), P("Password").opt(),
                 P("AddToRecentFiles").opt(), P("WritePassword").opt()},
                &WordDocument::SaveAs);
    return table;
  }();
  return &t;
}
}  // namespace pm::office::word
