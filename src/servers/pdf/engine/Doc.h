// One open PDF as the viewer objects share it: the PDDoc, the viewer
// document showing it, its JavaScript object, its pages and bookmarks all
// hold the same DocState, as the driven viewer's objects all speak of one
// document.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "automation/Variant.h"
#include "servers/pdf/engine/Mu.h"

namespace pm::pdf {

// Destinations, resolved the same way wherever the server follows one. To be
// called inside a MuPDF guard.
// The destination of an outline item or a link: its /Dest, or the /D of its
// GoTo action; nullptr when it has neither.
pdf_obj* itemDestination(fz_context* c, pdf_obj* item);
// The explicit destination (an array: page, kind, numbers) a destination
// stands for: a named one is looked up in the document's names, a
// dictionary gives its /D; nullptr when it leads nowhere.
pdf_obj* explicitDestination(fz_context* c, pdf_document* d, pdf_obj* dest);

struct Word {
  std::string text;   // the word itself
  std::string after;  // the white space that follows it on its line
  bool lineEnd = false;
  fz_quad quad{};  // in the page's default user space (origin bottom left)
};

class Doc;
namespace fonts {
struct Session;
}

// A bookmark (outline item) kept by reference; the reference is moved to the
// reopened document when a save onto the open file reloads it.
struct OutlineRef {
  std::weak_ptr<Doc> doc;
  mu::ObjPtr obj;  // the outline item dictionary (none for the root)
  bool root = false;
};

class Doc : public std::enable_shared_from_this<Doc> {
 public:
  Doc() = default;
  ~Doc();
  Doc(const Doc&) = delete;
  Doc& operator=(const Doc&) = delete;

  // Opens a PDF file read-only; false (nothing changed) when it is missing,
  // not a PDF, damaged beyond repair or needs a password.
  bool open(const std::string& path);
  // A new PDF without pages.
  void create();
  void close();
  bool isOpen() const { return doc_ != nullptr; }

  // The engine document; error when none is open.
  fz_document* fz();
  pdf_document* pdf();
  const std::string& path() const { return path_; }

  int pageCount();
  // Page size in points as shown: the crop box, rotated.
  fz_rect bounds(int page);
  int rotation(int page);
  // The given page box ("Crop", "Media", "Art", "Bleed", "Trim") in default
  // user space, as [left, top, right, bottom].
  fz_rect pageBox(int page, const std::string& box);
  mu::PagePtr loadPage(int page);
  void checkPage(int page);
  const std::vector<Word>& words(int page);

  // Marks content as changed: cached text is dropped.
  void changed();
  // Marks a change that draws no text (a text markup annotation made,
  // changed or removed): the page words read so far stay, so a search that
  // marks what it finds does not read the page again after each mark.
  void changedWithoutText() { dirty_ = true; }
  bool dirty() const { return dirty_; }
  void setDirty(bool d) { dirty_ = d; }

  // Writes the document. full: every object; otherwise the changes are
  // appended to the bytes of the opened file. The file is written under a
  // temporary name beside the target and renamed over it, so a failure never
  // leaves a partial file under the caller's name. Unless it is a copy, the
  // document then continues from the file written.
  void save(const std::string& target, bool full, bool linearize, bool garbage, bool reattach = true);

  // Passwords and permissions of an encrypted copy.
  struct Protection {
    std::string user;     // needed to open the copy; "" opens it without one
    std::string owner;    // lifts the permissions; "" takes the user password
    int32_t permissions;  // the P value: the permission bits granted
  };
  // Writes an encrypted copy (AES-256) of the whole document to target; the
  // document goes on from its own file. A signed document is refused: its
  // signatures cover the file as it was signed.
  void saveProtected(const std::string& target, const Protection& protection);

  // Reads the document again from its file, dropping unsaved changes.
  void revert() { reopen(path_); }

  std::string info(const std::string& key);
  void setInfo(const std::string& key, const std::string& value);
  bool hasInfo(const std::string& key);

  // The catalog's /PageMode as the viewer's page-mode code.
  int pageMode();
  void setPageMode(int mode);

  // Outline: the root holder and bookmarks below it.
  std::shared_ptr<OutlineRef> outlineRoot();
  // The /Outlines dictionary; made when create is set and there is none,
  // else nullptr then.
  pdf_obj* outlines(bool create);
  std::shared_ptr<OutlineRef> track(pdf_obj* item, bool root);
  // The page an outline item or action leads to, or -1.
  int destinationPage(pdf_obj* item);

  // Viewer state that the JavaScript object and the page view share.
  int currentPage = 0;
  // The point of the current page shown at the window's top left, in the
  // page's default user space; bookmarks and this.scroll move it, and the
  // JavaScript object's mouseX and mouseY report it.
  double viewX = 0, viewY = 0;
  double zoom = 100;
  int zoomType = 0;
  int32_t flags = 0;
  std::string title;  // window title given to OpenAVDoc
  int64_t openedSize = 0;
  // Viewer settings of the JavaScript object that the file does not hold
  // (calculate, disclosed, ...), by lower-case name.
  std::map<std::string, Variant> settings;
  // The font subsets embedded for text while the document is open (none
  // until text needs one; dropped when the document is read again).
  std::shared_ptr<fonts::Session> fontSession;

 private:
  void reopen(const std::string& path);
  // Before a save of changes: the modification date, and the XMP packet's
  // mirrors of the information entries set since the last save.
  void keepMetadataInStep();
  std::map<std::string, std::string> infoSet_;
  mu::DocumentPtr doc_;
  pdf_document* pdf_ = nullptr;
  std::string path_;
  bool dirty_ = false;
  std::map<int, std::vector<Word>> words_;
  std::vector<std::weak_ptr<OutlineRef>> outline_;
  size_t outlineLive_ = 0;
};

// Page number checks raise this error.
[[noreturn]] void raiseBadPage(int page, int count);

}  // namespace pm::pdf
