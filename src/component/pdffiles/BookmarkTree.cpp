#include "component/pdffiles/BookmarkTree.h"

#include "automation/surfaces/Acrobat.h"
#include "component/pdffiles/BookmarkWalk.h"
#include "component/pdffiles/ViewerNames.h"

namespace pm::pdffiles {

namespace {

// A damaged outline can lead back to one of its own ancestors, and then
// the tree read through the viewer never ends; these bounds keep the walk
// finite: the depth every bookmark walk keeps to, and a number of rows far
// beyond any outline a reader could use.
using bookmarks::kMaxDepth;
constexpr int32_t kMaxRows = 200000;

// The node array of a Children answer, or nullptr for a leaf (an error, or
// no array: the viewer answers null for a bookmark without children).
const Array* nodeArray(const Variant& v) {
  if (!v.isArray()) return nullptr;
  const Array& a = v.array();
  return a.dims() == 1 ? &a : nullptr;
}

}  // namespace

BookmarkTree::BookmarkTree(CreatePDF& self, BookmarkColumns columns)
    : self_(self), columns_(columns), positions_(acrobatVersion() >= 7) {}

void BookmarkTree::write(Variant& rows, int32_t row, int column, const Variant& value) {
  // Before the rows are sized this fails, as every write of the counting
  // pass does.
  rows.arrayMut().set({row, column}, value);
}

int32_t BookmarkTree::CollectBookmarkRows(int32_t index, const Variant& nodes, int32_t row, const ObjectRef& pageView,
                                          Variant& rows, const ObjectRef& js) {
  Variant children;
  if (!ignoreErrors([&] { children = get(objectOf(nodes.array().at({index})), "Children"); })) return row;
  const Array* kids = nodeArray(children);
  if (!kids || depth_ >= kMaxDepth) return row;
  ++self_.intBookmarkLevel;
  ++depth_;
  for (int32_t k = 0; k <= kids->ubound() && budget_ > 0; ++k) {
    ObjectRef child;
    ignoreErrors([&] { child = objectOf(kids->at({k})); });
    ignoreErrors([&] { write(rows, row, columns_.title, get(child, "Name")); });
    ignoreErrors([&] { call(child, "Execute"); });
    ignoreErrors([&] { write(rows, row, columns_.page, call(pageView, "GetPageNum")); });
    ignoreErrors([&] { write(rows, row, columns_.level, Variant(static_cast<int16_t>(self_.intBookmarkLevel))); });
    if (positions_) {
      ignoreErrors([&] { write(rows, row, 3, get(js, "mouseX")); });
      ignoreErrors([&] { write(rows, row, 4, get(js, "mouseY")); });
    }
    ++row;
    --budget_;
    row = CollectBookmarkRows(k, children, row, pageView, rows, js);
  }
  --depth_;
  --self_.intBookmarkLevel;
  return row;
}

int32_t BookmarkTree::read(const Variant& file, const char* windowTitle, BookmarkSource& src, Variant& rows) {
  self_.intBookmarkLevel = 0;
  ignoreErrors([&] { src.pddoc = CreateObject(acrobat::kPDDoc); });
  ignoreErrors([&] { src.avdoc = CreateObject(acrobat::kAVDoc); });
  ignoreErrors([&] { src.opened = CBool(call(src.avdoc, "Open", {file, windowTitle})); });
  if (!src.opened) return 0;
  Variant top;
  ignoreErrors([&] { src.pageView = objectOf(call(src.avdoc, "GetAVPageView")); });
  ignoreErrors([&] { src.pddoc = objectOf(call(src.pageView, "GetDoc")); });
  ignoreErrors([&] { src.js = objectOf(call(src.pddoc, "GetJSObject")); });
  ignoreErrors([&] { let(src.js, "Layout", Variant("SinglePage")); });
  ignoreErrors([&] { top = get(objectOf(get(src.js, "BookMarkRoot")), "Children"); });
  self_.intBookmarkLevel = 1;
  const Array* topNodes = nodeArray(top);
  int32_t n = 0;
  if (topNodes) {
    // The counting pass: rows is not sized, so nothing is written.
    Variant unsized;
    budget_ = kMaxRows;
    for (int32_t t = 0; t <= topNodes->ubound() && budget_ > 0; ++t) {
      ++n;
      --budget_;
      n = CollectBookmarkRows(t, top, n, src.pageView, unsized, src.js);
    }
    // No rows: sizing fails and the caller's variable stays as it was.
    Variant sized;
    if (n > 0) sized = Variant(Array::matrix(n, positions_ ? 5 : 3));
    const int32_t counted = n;
    n = 0;
    budget_ = kMaxRows;
    for (int32_t t = 0; counted > 0 && t <= topNodes->ubound() && budget_ > 0; ++t) {
      ObjectRef node;
      ignoreErrors([&] { node = objectOf(topNodes->at({t})); });
      ignoreErrors([&] { write(sized, n, columns_.title, get(node, "Name")); });
      ignoreErrors([&] { call(node, "Execute"); });
      ignoreErrors([&] { write(sized, n, columns_.page, call(objectOf(call(src.pageView, "GetPage")), "GetNumber")); });
      ignoreErrors([&] { write(sized, n, columns_.level, Variant(static_cast<int16_t>(self_.intBookmarkLevel))); });
      if (positions_) {
        ignoreErrors([&] { write(sized, n, 3, get(src.js, "mouseX")); });
        ignoreErrors([&] { write(sized, n, 4, get(src.js, "mouseY")); });
      }
      ++n;
      --budget_;
      n = CollectBookmarkRows(t, top, n, src.pageView, sized, src.js);
    }
    // A tree that changed between the passes cannot write past the rows
    // counted; the count is what the rows hold.
    if (n > counted) n = counted;
    if (counted > 0) rows = std::move(sized);
  }
  self_.intBookmarkLevel = 0;
  return n;
}

}  // namespace pm::pdffiles
