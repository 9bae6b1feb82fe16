// Text search in the viewer: showing the first occurrence of a text,
// a bookmark for each occurrence found, and links for the web addresses
// written in the pages.
#include <chrono>
#include <thread>

#include "automation/surfaces/Acrobat.h"
#include "component/frame/CreatePDF.h"
#include "component/convert/Distill.h"
#include "component/pdffiles/ViewerSession.h"
#include "system/SystemServices.h"

namespace pm {
namespace {

using pdffiles::ViewerSession;

// The title the viewer gives a bookmark it makes for the current view.
constexpr const char* kNewBookmarkTitle = "Untitled";

// Long enough for the viewer to show the occurrence it found before the
// bookmark for the current view is made.
constexpr auto kShowFoundText = std::chrono::milliseconds(1000);

Variant FindTextInPDF(CreatePDF&, Frame& f) {
  const Variant& strPDFFile = f["strPDFFile"];
  if (!FileExists(strPDFFile)) raiseMissingFile(strPDFFile);
  ViewerSession s;
  s.trap([&] {
    s.openInViewer(strPDFFile);
    // From the start of the document.
    bool found =
        CBool(call(s.avdoc, "FindText", {f["strText"], f["blnCaseSensitive"], f["blnWholeWordsOnly"], Variant(true)}));
    if (found) {
      // The viewer stays open at the occurrence.
      call(s.app, "Show");
      call(s.pddoc, "Close");
    } else {
      s.closeViewer();
    }
    s.release();
  });
  return {};
}

Variant CreateBookmarksInPDF(CreatePDF&, Frame& f) {
  const Variant& strPDFFile = f["strPDFFile"];
  if (!FileExists(strPDFFile)) raiseMissingFile(strPDFFile);
  ViewerSession s;
  s.trap([&] {
    s.openInViewer(strPDFFile);
    s.bookmark = CreateObject(acrobat::kPDBookmark);
    call(s.pddoc, "SetFlags", {Variant(int32_t(256))});
    const Array& titles = f["varBookmarkTitles"].array();
    // An element of an array of more dimensions has no single index.
    if (titles.dims() != 1) raise(basic::SubscriptOutOfRange);
    for (int32_t i = titles.lbound(); i <= titles.ubound(); ++i) {
      const Variant& title = titles.at({i});
      // Without a reset each search goes on after the previous hit, so
      // the same text given twice marks two successive occurrences.
      if (!CBool(call(s.avdoc, "FindText", {title, f["blnCaseSensitive"], f["blnWholeWordsOnly"], f["blnReset"]})))
        continue;
      std::this_thread::sleep_for(kShowFoundText);
      call(s.app, "MenuItemExecute", {"NewBookmark"});
      call(s.bookmark, "GetByTitle", {Variant(s.pddoc), kNewBookmarkTitle});
      call(s.bookmark, "SetTitle", {title});
    }
    call(s.pddoc, "Save", {Variant(int32_t(acrobat::kSaveIncremental)), strPDFFile});
    s.closeViewer();
    s.release();
  });
  return {};
}

Variant CreateLinksInPDF(CreatePDF&, Frame& f) {
  const Variant& strPDFFile = f["strPDFFile"];
  if (!FileExists(strPDFFile)) raiseMissingFile(strPDFFile);
  ViewerSession s;
  s.trap([&] {
    s.openInViewer(strPDFFile);
    {
      ObjectRef js = objectOf(call(s.pddoc, "GetJSObject"));
      // Every page; the number of links made is not looked at.
      call(js, "AddWebLinks");
    }
    call(s.pddoc, "Save", {Variant(int32_t(acrobat::kSaveIncremental)), strPDFFile});
    s.closeViewer();
    s.release();
  });
  return {};
}

void describe(Members<CreatePDF>& m) {
  m.method("FindTextInPDF",
           {P("strPDFFile").path(), P("strText"), P("blnCaseSensitive").opt(false), P("blnWholeWordsOnly").opt(false)},
           &FindTextInPDF, "Show a PDF file in the viewer at the first occurrence of a text.")
      .method("CreateBookmarksInPDF",
              {P("strPDFFile").path(), P("varBookmarkTitles"), P("blnCaseSensitive").opt(false),
               P("blnWholeWordsOnly").opt(false), P("blnReset").opt(false)},
              &CreateBookmarksInPDF, "Add a bookmark at each occurrence found of each text of a list.")
      .method("CreateLinksInPDF", {P("strPDFFile").path()}, &CreateLinksInPDF,
              "Turn the web addresses written in the pages of a PDF file into links.");
}

const CreatePDFMembers::Register reg("pdffiles_search", &describe);

}  // namespace
}  // namespace pm
