// The viewer's automation objects over MuPDF. Each class lives in its own
// file; these factories let them hand out one another.
#pragma once

#include <memory>
#include <string>

#include "automation/Automation.h"
#include "servers/pdf/engine/Doc.h"

namespace pm::pdf {

// Objects that speak of one document answer which one; InsertPages and
// GetByTitle take their document argument this way.
class DocHolder : public Dispatch {
 public:
  virtual std::shared_ptr<Doc> docState() const = 0;
};

// The document of an object argument; error 424 when it is not one of the
// viewer's document objects.
std::shared_ptr<Doc> docOf(const Variant& v);

// A rectangle argument as (left, top, right, bottom).
struct RectValue {
  double left = 0, top = 0, right = 0, bottom = 0;
};
RectValue rectOf(const Variant& v);

ObjectRef makePDDoc(std::shared_ptr<Doc> d);
ObjectRef makePage(std::shared_ptr<Doc> d, int page);
ObjectRef makePoint(double x, double y);
ObjectRef makeRect();
ObjectRef makeJSDoc(std::shared_ptr<Doc> d);
ObjectRef makeBookmarkNode(std::shared_ptr<OutlineRef> ref);
// Opens a viewer document on d; it joins the viewer's list of documents.
ObjectRef makeAVDoc(std::shared_ptr<Doc> d, const std::string& title);
ObjectRef makePageView(ObjectRef avdoc, std::shared_ptr<Doc> d);

// ---- Shared operations ----

// Runs an action script of the document: the navigation statements the
// viewer understands (this.pageNum = n; this.pageNum++; this.scroll(x, y))
// move the document's current page; anything else runs in MuPDF's
// JavaScript engine.
void runScript(Doc& d, const std::string& script);
// Performs the action of an outline item (a destination or a script).
void performOutline(Doc& d, pdf_obj* item);
// Moves the view to the position an outline item's destination names
// (the top left of the page for destinations that name none).
void moveViewToDestination(Doc& d, pdf_obj* item);

// Bookmarks.
pdf_obj* outlineFirstChild(pdf_obj* node);
// Inserts a new item titled title under parent at position index (clamped);
// script, when not empty, becomes its JavaScript action; page >= 0 a
// destination instead.
pdf_obj* outlineInsert(Doc& d, pdf_obj* parent, const std::string& title, const std::string& script, int index,
                       int page = -1);
void outlineRemove(Doc& d, pdf_obj* item);
// Finds the first item in display order whose title equals title.
pdf_obj* outlineFind(Doc& d, const std::string& title);
// Recomputes the /Count entries after a change to the tree.
void outlineRecount(Doc& d);

// The viewer: the front document, for MenuItemExecute and GetActiveDoc.
std::shared_ptr<Doc> frontDoc();

}  // namespace pm::pdf
