// Reading a file's bookmark tree through the viewer into rows: a title, a
// level and a 0-based page per bookmark, and with viewers of version 7 and
// above the view position the bookmark leads to. Rows come in depth-first
// pre-order. Every step's failure is ignored and the step skipped.
#pragma once

#include <cstdint>

#include "component/frame/CreatePDF.h"

namespace pm::pdffiles {

// Where the columns of a row are.
struct BookmarkColumns {
  int title, level, page;
};
// The rows BookmarksToArray hands out, and the table BookmarksToPDF
// rebuilds from.
inline constexpr BookmarkColumns kArrayColumns{0, 1, 2};
inline constexpr BookmarkColumns kTransferColumns{0, 2, 1};

// The viewer objects a read leaves open, for the caller to close.
struct BookmarkSource {
  ObjectRef pddoc, avdoc, pageView, js;
  bool opened = false;  // false: the file did not open, there are no rows
};

class BookmarkTree {
 public:
  BookmarkTree(CreatePDF& self, BookmarkColumns columns);

  // Opens the file in a viewer document and reads its tree into rows,
  // (0 to n - 1, 0 to 4) with positions or (0 to n - 1, 0 to 2) without;
  // rows stays as it was when there are none. Answers n.
  int32_t read(const Variant& file, const char* windowTitle, BookmarkSource& src, Variant& rows);

  // One node's subtree: the rows of the children of nodes(index), written
  // from row on when rows is sized, only counted while it is not. Answers
  // the row after the last one.
  int32_t CollectBookmarkRows(int32_t index, const Variant& nodes, int32_t row, const ObjectRef& pageView,
                              Variant& rows, const ObjectRef& js);

 private:
  void write(Variant& rows, int32_t row, int column, const Variant& value);
  CreatePDF& self_;
  BookmarkColumns columns_;
  bool positions_;
  int depth_ = 0;
  int32_t budget_ = 0;
};

}  // namespace pm::pdffiles
