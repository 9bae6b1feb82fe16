// The viewer members of CreatePDF: showing a PDF (at a bookmark or a page,
// optionally read aloud), printing a page range or the files of a folder,
// and storing a zoom in a file.
#include <algorithm>

#include "automation/surfaces/Acrobat.h"
#include "component/frame/CreatePDF.h"
#include "component/convert/Distill.h"
#include "component/pdffiles/AcrobatSteps.h"
#include "component/pdffiles/ExecuteBookmark.h"
#include "component/pdffiles/FileTable.h"
#include "component/pdffiles/PrinterSwitch.h"
#include "system/SystemServices.h"

namespace pm {
namespace {

// ReadType.
constexpr int32_t pdoReadNone = 0;
constexpr int32_t pdoReadCurrentPage = 1;
constexpr int32_t pdoReadDocument = 2;

// Printing arguments: PostScript level 2, 8-bit data allowed, no shrinking.
void printRange(const ObjectRef& av, bool silent, const Variant& first, const Variant& last) {
  call(av, silent ? "PrintPagesSilent" : "PrintPages",
       {first, last, Variant(int16_t{2}), Variant(true), Variant(false)});
}

Variant OpenPDF(CreatePDF&, Frame& f) {
  Variant& strPDFFile = f["strPDFFile"];
  if (!FileExists(strPDFFile)) raiseMissingFile(strPDFFile);
  ObjectRef app, pd, av, js;
  trapErrors(
      [&] {
        app = CreateObject(acrobat::kApp);
        pd = CreateObject(acrobat::kPDDoc);
        av = CreateObject(acrobat::kAVDoc);
        openInViewer(av, CStr(strPDFFile), true);
        av = objectOf(call(app, "GetActiveDoc"));
        pd = objectOf(call(av, "GetPDDoc"));
        call(app, "Show");
        js = objectOf(call(pd, "GetJSObject"));
        double version = acrobatVersion();
        std::string bookmark = CStr(f["strBookmark"]);
        if (!Trim(bookmark).empty()) {
          if (version < 5) {
            ObjectRef mark = CreateObject(acrobat::kPDBookmark);
            call(mark, "GetByTitle", {Variant(pd), bookmark});
            call(mark, "Perform", {Variant(av)});
          } else {
            ExecuteBookmarkByTitle(pd, bookmark, false, true);
          }
        }
        // After the bookmark, so a page given as well wins.
        int32_t page = CLng(f["lngGoToPageNo"]);
        if (page > 0 && page <= CLng(get(js, "NumPages"))) let(js, "PageNum", Variant(page - 1));
        if (version > 5) {
          int32_t read = CLng(f["lngReadType"]);
          if (read < pdoReadNone || read > pdoReadDocument) read = pdoReadNone;
          if (read == pdoReadCurrentPage) call(app, "MenuItemExecute", {"ADBE:ReadAloudStart"});
          if (read == pdoReadDocument) call(app, "MenuItemExecute", {"ADBE:ReadAloudToEnd"});
        }
        // The document stays open in the viewer.
        js.reset();
        av.reset();
        pd.reset();
        app.reset();
      },
      [&] {
        js.reset();
        av.reset();
        pd.reset();
        app.reset();
      });
  return {};
}

Variant PrintPDF(CreatePDF&, Frame& f) {
  Variant& strPDFFile = f["strPDFFile"];
  if (!FileExists(strPDFFile)) raiseMissingFile(strPDFFile);
  ObjectRef app, av, pd;
  PrinterSwitch printer;
  trapErrors(
      [&] {
        app = CreateObject(acrobat::kApp);
        av = CreateObject(acrobat::kAVDoc);
        pd = CreateObject(acrobat::kPDDoc);
        openInViewer(av, CStr(strPDFFile), true);
        pd = objectOf(call(av, "GetPDDoc"));
        printer.switchTo(f["strPrinter"]);
        // Caller pages are 1-based, the viewer's 0-based.
        int32_t lastNo = CLng(f["lngLastPageNo"]), firstNo = CLng(f["lngFirstPageNo"]);
        int32_t last = lastNo > 0 ? lastNo - 1 : CLng(call(pd, "GetNumPages")) - 1;
        int32_t first = firstNo > 0 ? firstNo - 1 : 0;
        printRange(av, CBool(f["blnSilent"]), Variant(first), Variant(last));
        printer.restore();
        call(av, "Close", {Variant(true)});
        call(app, "Exit");
        pd.reset();
        av.reset();
        app.reset();
      },
      [&] {
        printer.restore();
        closeQuietly(av, true);
        if (app) ignoreErrors([&] { call(app, "Exit"); });
        pd.reset();
        av.reset();
        app.reset();
      });
  return {};
}

Variant PrintPDFinDir(CreatePDF&, Frame& f) {
  ObjectRef av, pd;
  PrinterSwitch printer;
  trapErrors(
      [&] {
        // The printer is switched once something is known to match.
        DirectoryListing list;
        if (!ListDirectory(f["strDirectory"], f["strFiles"], f["lngSortType"], f["lngSortOrder"], list,
                           [&] { printer.switchTo(f["strPrinter"]); }))
          return;
        av = CreateObject(acrobat::kAVDoc);
        pd = CreateObject(acrobat::kPDDoc);
        bool silent = CBool(f["blnSilent"]);
        for (int16_t r = 0; r < list.count; ++r) {
          openInViewer(av, list.path(r), true);
          pd = objectOf(call(av, "GetPDDoc"));
          int16_t last = static_cast<int16_t>(CInt(call(pd, "GetNumPages")) - 1);
          printRange(av, silent, Variant(int16_t{0}), Variant(last));
          call(av, "Close", {Variant(true)});
        }
        pd.reset();
        av.reset();
        printer.restore();
      },
      [&] {
        printer.restore();
        closeQuietly(av, true);
        pd.reset();
        av.reset();
      });
  return {};
}

Variant SetPageZoom(CreatePDF&, Frame& f) {
  Variant& strPDF = f["strPDF"];
  if (!FileExists(strPDF)) raiseMissingFile(strPDF);
  ObjectRef pd, av, view;
  bool result = false;
  try {
    pd = CreateObject(acrobat::kPDDoc);
    av = CreateObject(acrobat::kAVDoc);
    std::string path = CStr(strPDF);
    openInViewer(pd, path, false);
    size_t slash = path.rfind('/');
    std::string title = slash == std::string::npos ? path : path.substr(slash + 1);
    av = objectOf(call(pd, "OpenAVDoc", {title}));
    view = objectOf(call(av, "GetAVPageView"));
    // Type and scale go to the viewer as the caller gave them.
    result = CBool(call(view, "ZoomTo", {f["lngType"], f["sngScale"]}));
    call(pd, "Save", {Variant(int16_t{acrobat::kSaveIncremental}), path});
    view.reset();
    call(av, "Close", {Variant(true)});
    call(pd, "Close");
  } catch (...) {
    view.reset();
    closeQuietly(av, true);
    closeQuietly(pd, false);
    result = false;
  }
  return Variant(result);
}

void describe(Members<CreatePDF>& m) {
  m.method("OpenPDF",
           {P("strPDFFile").path(), P("strBookmark").opt(""), P("lngGoToPageNo").opt(int32_t{0}),
            P("lngReadType").byVal().opt(int32_t{0})},
           &OpenPDF, "Show a PDF in the viewer, at a bookmark or a page, optionally reading it aloud.")
      .method("PrintPDF",
              {P("strPDFFile").path(), P("strPrinter").path().opt(""), P("blnSilent").opt(false),
               P("lngFirstPageNo").opt(int32_t{0}), P("lngLastPageNo").opt(int32_t{0})},
              &PrintPDF, "Print a page range of a PDF on the default printer or the one named.")
      .method("PrintPDFinDir",
              {P("strDirectory").path(), P("strFiles").path().opt("*.pdf"), P("strPrinter").path().opt(""),
               P("blnSilent").opt(false), P("lngSortType").opt(int32_t{0}), P("lngSortOrder").opt(int32_t{0})},
              &PrintPDFinDir, "Print the PDF files of a folder, in the order asked for.")
      .method("SetPageZoom", {P("strPDF").path(), P("lngType").opt(int32_t{0}), P("sngScale").opt(float{100})},
              &SetPageZoom, "Store a zoom in a PDF file; the viewer's answer, False after any failure.");
}

const CreatePDFMembers::Register reg("pdffiles_viewer", &describe);

}  // namespace
}  // namespace pm
