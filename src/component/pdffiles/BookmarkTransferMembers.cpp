// A file's bookmark tree read into an array, and copied into another file
// with each bookmark rebuilt as a script that goes to the same page (and,
// with viewers of version 7 and above, to the same position).
#include "automation/surfaces/Acrobat.h"
#include "component/frame/CreatePDF.h"
#include "component/convert/Distill.h"
#include "component/pdffiles/AcrobatSteps.h"
#include "component/pdffiles/BookmarkTree.h"
#include "component/pdffiles/ViewerNames.h"
#include "system/SystemServices.h"

namespace pm {
namespace {

using pdffiles::BookmarkSource;
using pdffiles::BookmarkTree;

Variant BookmarksToArray(CreatePDF& self, Frame& f) {
  const Variant& strPDFFile = f["strPDFFile"];
  if (!FileExists(strPDFFile)) raiseMissingFile(strPDFFile);
  BookmarkSource src;
  BookmarkTree tree(self, pdffiles::kArrayColumns);
  int32_t n = tree.read(strPDFFile, "temp", src, f["varBookmarks"]);
  ignoreErrors([&] { call(src.pddoc, "Close"); });
  ignoreErrors([&] { call(src.avdoc, "Close", {Variant(true)}); });
  // Without saving: reading the tree sets the layout and runs the
  // bookmarks' actions, and none of that may reach the file.
  ignoreErrors([&] { call(src.js, "CloseDoc", {Variant(true)}); });
  return Variant(n);
}

// The script of a copied bookmark.
std::string bookmarkAction(const Array& rows, int32_t row) {
  const auto& c = pdffiles::kTransferColumns;
  std::string script = "this.pageNum = " + CStr(rows.at({row, c.page}));
  if (pdffiles::acrobatVersion() >= 7)
    script += ";this.scroll(" + CStr(rows.at({row, 3})) + "," + CStr(rows.at({row, 4})) + ");";
  return script;
}

// The number of elements of a Children answer; none for null.
int32_t childCount(const Variant& children) {
  if (!children.isArray()) return 0;
  return children.array().ubound() + 1;
}

Variant BookmarksToPDF(CreatePDF& self, Frame& f) {
  const Variant& strSourcePDF = f["strSourcePDF"];
  const Variant& strTargetPDF = f["strTargetPDF"];
  if (!FileExists(strSourcePDF)) raiseMissingFile(strSourcePDF);
  if (!FileExists(strTargetPDF)) raiseMissingFile(strTargetPDF);
  BookmarkSource src;
  Variant table;
  BookmarkTree tree(self, pdffiles::kTransferColumns);
  int32_t n = tree.read(strSourcePDF, "temp", src, table);
  if (!src.opened) return Variant(int32_t(0));
  ignoreErrors([&] { call(src.pddoc, "Close"); });
  ignoreErrors([&] { call(src.avdoc, "Close", {Variant(int32_t(0))}); });
  // The same viewer document shows the target.
  ObjectRef target, pageView, js;
  ObjectRef& avdoc = src.avdoc;
  ignoreErrors([&] { target = CreateObject(acrobat::kPDDoc); });
  bool opened = false;
  ignoreErrors([&] { opened = resultIsTrue(call(avdoc, "Open", {strTargetPDF, "tmp"})); });
  if (!opened) {
    // A target that does not open (protected, or no PDF) leaves the
    // viewer document on the source, which must not be saved over it.
    ignoreErrors([&] { call(avdoc, "Close", {Variant(int32_t(0))}); });
    self.intBookmarkLevel = 0;
    return Variant(int32_t(-1));
  }
  ignoreErrors([&] { call(avdoc, "BringToFront"); });
  ignoreErrors([&] { pageView = objectOf(call(avdoc, "GetAVPageView")); });
  ignoreErrors([&] { target = objectOf(call(pageView, "GetDoc")); });
  try {
    // The copied tree follows the target's own top-level bookmarks.
    js = objectOf(call(target, "GetJSObject"));
    ObjectRef parent = objectOf(get(js, "BookMarkRoot"));
    self.intBookmarkLevel = static_cast<int16_t>(childCount(get(parent, "Children")));
    const Array* rows = n > 0 ? &table.array() : nullptr;
    const auto& c = pdffiles::kTransferColumns;
    for (int32_t j = 0; j < n; ++j) {
      call(pageView, "GoTo", {rows->at({j, c.page})});
      call(parent, "createChild",
           {rows->at({j, c.title}), bookmarkAction(*rows, j), Variant(static_cast<int16_t>(self.intBookmarkLevel))});
      ++self.intBookmarkLevel;
      if (j + 1 == n) break;
      int32_t level = CLng(rows->at({j, c.level}));
      int32_t next = CLng(rows->at({j + 1, c.level}));
      if (next > level) {
        // Into the bookmark just made, the last child of the parent.
        Variant kids = get(parent, "Children");
        parent = objectOf(kids.array().at({kids.array().ubound()}));
        self.intBookmarkLevel = 0;
      } else if (next < level) {
        for (int32_t up = 0; up < level - next; ++up) {
          parent = objectOf(get(parent, "Parent"));
          self.intBookmarkLevel = static_cast<int16_t>(childCount(get(parent, "Children")));
        }
      }
    }
    call(target, "SetPageMode", {Variant(int32_t(acrobat::kPageModeUseNone))});
    call(target, "Save", {Variant(int32_t(acrobat::kSaveFull)), strTargetPDF});
    call(js, "CloseDoc");
    call(target, "Close");
    call(avdoc, "Close", {Variant(int32_t(0))});
    self.intBookmarkLevel = 0;
    return Variant(n);
  } catch (...) {
    // Without saving: half a tree must not reach the target file.
    ignoreErrors([&] { call(js, "CloseDoc", {Variant(true)}); });
    ignoreErrors([&] { call(target, "Close"); });
    ignoreErrors([&] { call(src.pddoc, "Close"); });
    ignoreErrors([&] { call(avdoc, "Close", {Variant(int32_t(0))}); });
    self.intBookmarkLevel = 0;
    return Variant(int32_t(-1));
  }
}

void describe(Members<CreatePDF>& m) {
  m.method("BookmarksToArray", {P("strPDFFile").path(), P("varBookmarks")}, &BookmarksToArray,
           "Read the bookmark tree of a PDF file into a two-dimensional array (title, level, page, position).")
      .method("BookmarksToPDF", {P("strSourcePDF").path(), P("strTargetPDF").path()}, &BookmarksToPDF,
              "Copy the bookmark tree of one PDF file into another; answers the number of bookmarks copied.");
}

const CreatePDFMembers::Register reg("pdffiles_bookmarks", &describe);

}  // namespace
}  // namespace pm
