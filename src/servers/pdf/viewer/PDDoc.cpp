// AcroExch.PDDoc and the objects it hands out: pages, points, rectangles and
// text selections.
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

#include "automation/surfaces/Acrobat.h"
#include "servers/pdf/engine/Linearize.h"
#include "servers/pdf/viewer/Objects.h"
#include "servers/pdf/engine/PageCopy.h"
#include "system/Clipboard.h"

namespace pm::pdf {

namespace {

[[noreturn]] void fail(const std::string& d) {
  throw AutomationError(mu::kErrEngine, mu::kEngineSource, d);
}

int pageArg(const Variant& v) {
  return CLng(v);
}

// ---- Bookmark copying (plain C helpers run inside guard()) ----

// Collects the page objects with indexes from to from + count - 1 of the
// page tree below node, in page order; index counts the pages passed.
void collectPages(fz_context* c, pdf_obj* node, int depth, int* index, int from, int count, pdf_obj** out) {
  pdf_obj* kids = pdf_dict_get(c, node, PDF_NAME(Kids));
  int n = pdf_array_len(c, kids);
  for (int i = 0; i < n && *index < from + count; ++i) {
    pdf_obj* kid = pdf_array_get(c, kids, i);
    if (pdf_is_array(c, pdf_dict_get(c, kid, PDF_NAME(Kids)))) {
      // A subtree wholly before the range is skipped by its count.
      int inside = pdf_dict_get_int(c, kid, PDF_NAME(Count));
      if (inside > 0 && *index + inside <= from) {
        *index += inside;
        continue;
      }
      if (depth < 64) collectPages(c, kid, depth + 1, index, from, count, out);
      continue;
    }
    if (*index >= from) out[*index - from] = kid;
    ++*index;
  }
}

// Appends a bookmark at the end of parent's children (through /Last, so a
// long list costs nothing to extend). The title, and either a destination
// page or a script; returns the new item.
pdf_obj* appendOutlineItem(fz_context* c, pdf_document* doc, pdf_obj* parent, const char* title, pdf_obj* page,
                           const char* script) {
  pdf_obj* item = pdf_add_new_dict(c, doc, 6);
  fz_try(c) {
    pdf_dict_put_text_string(c, item, PDF_NAME(Title), title);
    pdf_dict_put(c, item, PDF_NAME(Parent), parent);
    if (page) {
      pdf_obj* dest = pdf_dict_put_array(c, item, PDF_NAME(Dest), 2);
      pdf_array_push(c, dest, page);
      pdf_array_push(c, dest, PDF_NAME(Fit));
    } else if (script && *script) {
      pdf_obj* a = pdf_dict_put_dict(c, item, PDF_NAME(A), 2);
      pdf_dict_put(c, a, PDF_NAME(S), PDF_NAME(JavaScript));
      pdf_dict_put_text_string(c, a, PDF_NAME(JS), script);
    }
    pdf_obj* last = pdf_dict_get(c, parent, PDF_NAME(Last));
    if (last) {
      pdf_dict_put(c, item, PDF_NAME(Prev), last);
      pdf_dict_put(c, last, PDF_NAME(Next), item);
    } else {
      pdf_dict_put(c, parent, PDF_NAME(First), item);
    }
    pdf_dict_put(c, parent, PDF_NAME(Last), item);
  }
  fz_always(c) {
    pdf_drop_obj(c, item);
  }
  fz_catch(c) {
    fz_rethrow(c);
  }
  return pdf_dict_get(c, parent, PDF_NAME(Last));
}

// ---- Point ----
class Point : public Dispatch {
 public:
  Point(double x, double y) : x_(x), y_(y) {}
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t("AcroExch.Point");
      Members<Point> m(t);
      m.get("x", {}, &Point::getX).let("x", {P("v")}, &Point::letX);
      m.get("y", {}, &Point::getY).let("y", {P("v")}, &Point::letY);
      return t;
    }();
    return &t;
  }
  std::string typeName() const override { return "AcroExch.Point"; }

 private:
  // Sizes are whole points, as the driven viewer's 16-bit point holds them.
  Variant getX(Frame&) { return Variant(static_cast<int16_t>(std::lround(x_))); }
  Variant getY(Frame&) { return Variant(static_cast<int16_t>(std::lround(y_))); }
  Variant letX(Frame& f) {
    x_ = CInt(f["v"]);
    return {};
  }
  Variant letY(Frame& f) {
    y_ = CInt(f["v"]);
    return {};
  }
  double x_, y_;
};

// ---- Rect ----
class Rect : public Dispatch {
 public:
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t("AcroExch.Rect");
      Members<Rect> m(t);
      m.get("Left", {}, &Rect::getL).let("Left", {P("v")}, &Rect::letL);
      m.get("Top", {}, &Rect::getT).let("Top", {P("v")}, &Rect::letT);
      m.get("Right", {}, &Rect::getR).let("Right", {P("v")}, &Rect::letR);
      m.get("bottom", {}, &Rect::getB).let("bottom", {P("v")}, &Rect::letB);
      return t;
    }();
    return &t;
  }
  std::string typeName() const override { return "AcroExch.Rect"; }
  RectValue value() const { return RectValue{double(l_), double(t_), double(r_), double(b_)}; }

 private:
  // The fields are 16-bit integers; a value out of range raises overflow.
  Variant getL(Frame&) { return Variant(l_); }
  Variant getT(Frame&) { return Variant(t_); }
  Variant getR(Frame&) { return Variant(r_); }
  Variant getB(Frame&) { return Variant(b_); }
  Variant letL(Frame& f) {
    l_ = CInt(f["v"]);
    return {};
  }
  Variant letT(Frame& f) {
    t_ = CInt(f["v"]);
    return {};
  }
  Variant letR(Frame& f) {
    r_ = CInt(f["v"]);
    return {};
  }
  Variant letB(Frame& f) {
    b_ = CInt(f["v"]);
    return {};
  }
  int16_t l_ = 0, t_ = 0, r_ = 0, b_ = 0;
};

// ---- Page ----
class Page : public DocHolder {
 public:
  Page(std::shared_ptr<Doc> d, int n) : doc_(std::move(d)), n_(n) {}
  std::shared_ptr<Doc> docState() const override { return doc_; }
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t("AcroExch.PDPage");
      Members<Page> m(t);
      m.method("GetSize", {}, &Page::GetSize);
      m.method("GetNumber", {}, &Page::GetNumber);
      m.method("GetRotate", {}, &Page::GetRotate);
      m.method("SetRotate", {P("nRotate")}, &Page::SetRotate);
      m.method("GetDoc", {}, &Page::GetDoc);
      m.method(
          "CopyToClipboard",
          {P("boundRect"), P("nXOrigin").opt(int32_t(0)), P("nYOrigin").opt(int32_t(0)), P("nZoom").opt(int32_t(100))},
          &Page::CopyToClipboard);
      return t;
    }();
    return &t;
  }
  std::string typeName() const override { return "AcroExch.PDPage"; }

 private:
  Variant GetSize(Frame&) {
    fz_rect r = doc_->bounds(n_);
    return Variant(makePoint(r.x1 - r.x0, r.y1 - r.y0));
  }
  Variant GetNumber(Frame&) {
    doc_->checkPage(n_);
    return Variant(int32_t(n_));
  }
  Variant GetRotate(Frame&) { return Variant(static_cast<int16_t>(doc_->rotation(n_))); }
  Variant SetRotate(Frame& f) {
    int rot = CLng(f["nRotate"]);
    if (rot % 90 != 0) fail("A page rotation is a multiple of 90 degrees, not " + std::to_string(rot));
    rot = ((rot % 360) + 360) % 360;
    doc_->checkPage(n_);
    pdf_document* d = doc_->pdf();
    int n = n_;
    mu::guard("Rotating the page",
              [&](fz_context* c) { pdf_dict_put_int(c, pdf_lookup_page_obj(c, d, n), PDF_NAME(Rotate), rot); });
    doc_->changed();
    return Variant(true);
  }
  Variant GetDoc(Frame&) { return Variant(makePDDoc(doc_)); }

  // Renders the page at zoom percent with its top left corner at (x, y) of
  // the device space and puts the part inside the rectangle on the
  // clipboard.
  Variant CopyToClipboard(Frame& f) {
    RectValue r = rectOf(f["boundRect"]);
    double x = CDbl(f["nXOrigin"]), y = CDbl(f["nYOrigin"]), zoom = CDbl(f["nZoom"]);
    if (!(zoom > 0) || zoom > 6400) fail("The zoom must be above 0 and at most 6400 percent");
    int x0 = static_cast<int>(std::floor(std::min(r.left, r.right)));
    int x1 = static_cast<int>(std::ceil(std::max(r.left, r.right)));
    int y0 = static_cast<int>(std::floor(std::min(r.top, r.bottom)));
    int y1 = static_cast<int>(std::ceil(std::max(r.top, r.bottom)));
    if (x1 - x0 < 1 || y1 - y0 < 1) fail("The rectangle to copy is empty");
    if (static_cast<int64_t>(x1 - x0) * (y1 - y0) > 100'000'000) fail("The rectangle to copy is too large");
    mu::PagePtr page = doc_->loadPage(n_);
    fz_page* pg = page.get();
    fz_pixmap* pix = nullptr;
    float z = static_cast<float>(zoom / 100.0);
    fz_matrix ctm = fz_concat(fz_scale(z, z), fz_translate(static_cast<float>(x), static_cast<float>(y)));
    fz_irect box{x0, y0, x1, y1};
    mu::guard("Rendering the page", [&](fz_context* c) {
      pix = fz_new_pixmap_with_bbox(c, fz_device_rgb(c), box, nullptr, 0);
      fz_device* dev = nullptr;
      fz_var(dev);
      fz_try(c) {
        fz_clear_pixmap_with_value(c, pix, 255);
        dev = fz_new_draw_device(c, fz_identity, pix);
        fz_run_page(c, pg, dev, ctm, nullptr);
        fz_close_device(c, dev);
      }
      fz_always(c) {
        fz_drop_device(c, dev);
      }
      fz_catch(c) {
        fz_drop_pixmap(c, pix);
        pix = nullptr;
        fz_rethrow(c);
      }
    });
    mu::PixmapPtr holder(pix);
    Bitmap b;
    b.width = fz_pixmap_width(mu::ctx(), pix);
    b.height = fz_pixmap_height(mu::ctx(), pix);
    int n = fz_pixmap_components(mu::ctx(), pix);
    ptrdiff_t stride = fz_pixmap_stride(mu::ctx(), pix);
    const unsigned char* s = fz_pixmap_samples(mu::ctx(), pix);
    b.rgb.resize(static_cast<size_t>(b.width) * static_cast<size_t>(b.height) * 3);
    for (int yy = 0; yy < b.height; ++yy)
      for (int xx = 0; xx < b.width; ++xx)
        for (int k = 0; k < 3; ++k)
          b.rgb[(static_cast<size_t>(yy) * b.width + xx) * 3 + k] = s[yy * stride + xx * n + k];
    clipboard::put(std::move(b));
    return Variant(true);
  }

  std::shared_ptr<Doc> doc_;
  int n_;
};

// ---- TextSelect ----
class TextSelect : public DocHolder {
 public:
  TextSelect(std::shared_ptr<Doc> d, int page, std::vector<std::string> pieces)
      : doc_(std::move(d)), page_(page), pieces_(std::move(pieces)) {}
  std::shared_ptr<Doc> docState() const override { return doc_; }
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t("AcroExch.PDTextSelect");
      Members<TextSelect> m(t);
      m.method("GetNumText", {}, &TextSelect::GetNumText);
      m.method("GetText", {P("nTextIndex")}, &TextSelect::GetText);
      m.method("GetPage", {}, &TextSelect::GetPage);
      m.method("Destroy", {}, &TextSelect::Destroy);
      return t;
    }();
    return &t;
  }
  std::string typeName() const override { return "AcroExch.PDTextSelect"; }

 private:
  Variant GetNumText(Frame&) { return Variant(static_cast<int32_t>(pieces_.size())); }
  Variant GetText(Frame& f) {
    int32_t i = CLng(f["nTextIndex"]);
    if (i < 0 || static_cast<size_t>(i) >= pieces_.size())
      fail("Text piece " + std::to_string(i) + " does not exist: the selection has " + std::to_string(pieces_.size()));
    return Variant(pieces_[static_cast<size_t>(i)]);
  }
  Variant GetPage(Frame&) { return Variant(int32_t(page_)); }
  Variant Destroy(Frame&) {
    pieces_.clear();
    return {};
  }
  std::shared_ptr<Doc> doc_;
  int page_;
  std::vector<std::string> pieces_;
};

// ---- PDDoc ----
class PDDoc : public DocHolder {
 public:
  explicit PDDoc(std::shared_ptr<Doc> d) : doc_(d ? std::move(d) : std::make_shared<Doc>()) {}
  std::shared_ptr<Doc> docState() const override { return doc_; }
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t(acrobat::kPDDoc);
      Members<PDDoc> m(t);
      m.method("Open", {P("szFullPath").path()}, &PDDoc::Open);
      m.method("Create", {}, &PDDoc::Create);
      m.method("Close", {}, &PDDoc::Close);
      m.method("GetNumPages", {}, &PDDoc::GetNumPages);
      m.method("AcquirePage", {P("nPage")}, &PDDoc::AcquirePage);
      m.method(
          "InsertPages",
          {P("nInsertPageAfter"), P("iPDDocSource"), P("nStartPage"), P("nNumPages"), P("bBookmarks").opt(int32_t(0))},
          &PDDoc::InsertPages);
      m.method("DeletePages", {P("nStartPage"), P("nEndPage")}, &PDDoc::DeletePages);
      m.method("Save", {P("nType"), P("szFullPath").path().opt(std::string())}, &PDDoc::Save);
      m.method("SetInfo", {P("szInfoKey"), P("szBuffer")}, &PDDoc::SetInfo);
      m.method("GetInfo", {P("szInfoKey")}, &PDDoc::GetInfo);
      m.method("SetFlags", {P("nFlags")}, &PDDoc::SetFlags);
      m.method("ClearFlags", {P("nFlags")}, &PDDoc::ClearFlags);
      m.method("GetFlags", {}, &PDDoc::GetFlags);
      m.method("SetPageMode", {P("nPageMode")}, &PDDoc::SetPageMode);
      m.method("GetPageMode", {}, &PDDoc::GetPageMode);
      m.method("OpenAVDoc", {P("szTitle").opt(std::string())}, &PDDoc::OpenAVDoc);
      m.method("GetJSObject", {}, &PDDoc::GetJSObject);
      m.method("CreateTextSelect", {P("nPage"), P("iAcroRect")}, &PDDoc::CreateTextSelect);
      m.method("GetFileName", {}, &PDDoc::GetFileName);
      m.method("GetInstanceID", {}, &PDDoc::GetInstanceID);
      m.method("GetPermanentID", {}, &PDDoc::GetPermanentID);
      return t;
    }();
    return &t;
  }
  std::string typeName() const override { return acrobat::kPDDoc; }

 private:
  Variant Open(Frame& f) {
    std::string path = CStr(f["szFullPath"]);
    // A fresh state, so viewer documents of an earlier file keep theirs.
    auto d = std::make_shared<Doc>();
    bool ok = d->open(path);
    if (ok) doc_ = d;
    return Variant(ok);
  }
  Variant Create(Frame&) {
    auto d = std::make_shared<Doc>();
    d->create();
    doc_ = d;
    return Variant(true);
  }
  Variant Close(Frame&) {
    // Other holders (a viewer document, the JavaScript object) keep the
    // document; this object lets go of it.
    doc_ = std::make_shared<Doc>();
    return Variant(true);
  }
  Variant GetNumPages(Frame&) { return Variant(int32_t(doc_->pageCount())); }
  Variant AcquirePage(Frame& f) {
    int n = pageArg(f["nPage"]);
    doc_->checkPage(n);
    return Variant(makePage(doc_, n));
  }

  Variant InsertPages(Frame& f) {
    int after = CLng(f["nInsertPageAfter"]);
    std::shared_ptr<Doc> src = docOf(f["iPDDocSource"]);
    int first = CLng(f["nStartPage"]);
    int count = CLng(f["nNumPages"]);
    int32_t flags = f["bBookmarks"].isMissing() ? 0 : CLng(f["bBookmarks"]);
    bool bookmarks = (flags & acrobat::kInsertBookmarks) != 0;
    pdf_document* dst = doc_->pdf();
    pdf_document* sp = src->pdf();
    if (sp == dst) fail("A document cannot insert pages from itself");
    int srcCount = src->pageCount();
    int dstCount = doc_->pageCount();
    if (count < 1 || first < 0 || first + count > srcCount)
      fail("Pages " + std::to_string(first) + " to " + std::to_string(first + count - 1) +
           " do not exist in the source document of " + std::to_string(srcCount) + " pages");
    if (after < -1 || after >= dstCount)
      fail("Cannot insert after page " + std::to_string(after) + " of a document of " + std::to_string(dstCount) +
           " pages");
    copyPages(dst, after + 1, sp, first, first + count - 1);
    doc_->changed();
    if (bookmarks) copyBookmarks(*src, first, count, after + 1);
    return Variant(true);
  }

  // Copies the source's outline below the target's root, pointing each
  // destination at the inserted copy of its page.
  void copyBookmarks(Doc& src, int first, int count, int at) {
    pdf_obj* from = outlineFirstChild(src.outlines(false));
    if (!from) return;
    // The inserted pages, found in one walk of the tree rather than one
    // lookup per bookmark.
    std::vector<pdf_obj*> pages(static_cast<size_t>(count), nullptr);
    pdf_document* dst = doc_->pdf();
    pdf_obj** out = pages.data();
    mu::guard("Locating the inserted pages", [&](fz_context* c) {
      int index = 0;
      collectPages(c, pdf_dict_getp(c, pdf_trailer(c, dst), "Root/Pages"), 0, &index, at, count, out);
    });
    std::set<int> seen;
    copyLevel(src, from, doc_->outlines(true), first, count, pages, 0, seen);
    outlineRecount(*doc_);
    doc_->changed();
  }
  // A damaged outline may loop; every item is copied once, to a bounded
  // depth.
  void copyLevel(Doc& src, pdf_obj* item, pdf_obj* parent, int first, int count, const std::vector<pdf_obj*>& pages,
                 int depth, std::set<int>& seen) {
    if (depth > 64) return;
    pdf_document* dst = doc_->pdf();
    for (int n = 0; item && n < 100000; ++n) {
      int num = 0;
      mu::guard("Reading a bookmark", [&](fz_context* c) { num = pdf_is_indirect(c, item) ? pdf_to_num(c, item) : 0; });
      if (num && !seen.insert(num).second) return;
      pdf_obj *title = nullptr, *js = nullptr, *colour = nullptr, *next = nullptr;
      int style = 0, closed = 0, hasStyle = 0;
      mu::guard("Reading a bookmark", [&](fz_context* c) {
        title = pdf_dict_get(c, item, PDF_NAME(Title));
        pdf_obj* a = pdf_dict_get(c, item, PDF_NAME(A));
        if (pdf_name_eq(c, pdf_dict_get(c, a, PDF_NAME(S)), PDF_NAME(JavaScript)))
          js = pdf_dict_get(c, a, PDF_NAME(JS));
        colour = pdf_dict_get(c, item, PDF_NAME(C));
        hasStyle = pdf_dict_get(c, item, PDF_NAME(F)) != nullptr;
        style = pdf_dict_get_int(c, item, PDF_NAME(F));
        closed = pdf_dict_get_int(c, item, PDF_NAME(Count)) < 0;
        next = pdf_dict_get(c, item, PDF_NAME(Next));
      });
      int page = src.destinationPage(item);
      pdf_obj* target = (page >= first && page < first + count) ? pages[static_cast<size_t>(page - first)] : nullptr;
      std::string script = !target && js ? mu::text(js) : std::string();
      std::string name = mu::text(title);
      pdf_obj* made = nullptr;
      mu::guard("Copying a bookmark", [&](fz_context* c) {
        made = appendOutlineItem(c, dst, parent, name.c_str(), target, script.c_str());
        if (pdf_is_array(c, colour)) pdf_dict_put_drop(c, made, PDF_NAME(C), pdf_graft_object(c, dst, colour));
        if (hasStyle) pdf_dict_put_int(c, made, PDF_NAME(F), style);
        if (closed) pdf_dict_put_int(c, made, PDF_NAME(Count), -1);
      });
      copyLevel(src, outlineFirstChild(item), made, first, count, pages, depth + 1, seen);
      item = next;
    }
  }

  Variant DeletePages(Frame& f) {
    int a = CLng(f["nStartPage"]), b = CLng(f["nEndPage"]);
    int n = doc_->pageCount();
    if (a < 0 || b < a || b >= n)
      fail("Cannot delete pages " + std::to_string(a) + " to " + std::to_string(b) + " of a document of " +
           std::to_string(n) + " pages");
    if (b - a + 1 == n) fail("Cannot delete every page of a document");
    pdf_document* d = doc_->pdf();
    mu::guard("Deleting pages", [&](fz_context* c) { pdf_delete_page_range(c, d, a, b + 1); });
    doc_->changed();
    return Variant(true);
  }

  Variant Save(Frame& f) {
    int32_t type = CLng(f["nType"]);
    std::string path = f["szFullPath"].isMissing() ? std::string() : CStr(f["szFullPath"]);
    if (path.empty()) path = doc_->path();
    doc_->pdf();
    bool full = (type & acrobat::kSaveFull) != 0 || (doc_->flags & 2) != 0;
    bool linear = (type & acrobat::kSaveLinearized) != 0;
    bool garbage = (type & acrobat::kSaveCollectGarbage) != 0;
    // A copy leaves the document attached to the file it came from. A
    // linearized file is written whole and then linearized by the tool
    // that does it without loss; the document goes on from the whole file,
    // whose content the linearized one has.
    doc_->save(path, full || linear, false, garbage || linear, (type & acrobat::kSaveCopy) == 0);
    if (linear) linearizeFile(path);
    return Variant(true);
  }

  Variant SetInfo(Frame& f) {
    doc_->setInfo(CStr(f["szInfoKey"]), CStr(f["szBuffer"]));
    return Variant(true);
  }
  Variant GetInfo(Frame& f) { return Variant(doc_->info(CStr(f["szInfoKey"]))); }
  Variant SetFlags(Frame& f) {
    doc_->pdf();
    int32_t fl = CLng(f["nFlags"]);
    doc_->flags |= fl;
    if (fl & 1) doc_->setDirty(true);
    return Variant(true);
  }
  Variant ClearFlags(Frame& f) {
    doc_->pdf();
    int32_t fl = CLng(f["nFlags"]);
    doc_->flags &= ~fl;
    if (fl & 1) doc_->setDirty(false);
    return Variant(true);
  }
  Variant GetFlags(Frame&) {
    doc_->pdf();
    return Variant(int32_t(doc_->flags | (doc_->dirty() ? 1 : 0)));
  }
  Variant SetPageMode(Frame& f) {
    doc_->setPageMode(CLng(f["nPageMode"]));
    return Variant(true);
  }
  Variant GetPageMode(Frame&) { return Variant(int32_t(doc_->pageMode())); }
  Variant OpenAVDoc(Frame& f) {
    doc_->pdf();
    std::string title = f["szTitle"].isMissing() ? std::string() : CStr(f["szTitle"]);
    return Variant(makeAVDoc(doc_, title));
  }
  Variant GetJSObject(Frame&) {
    doc_->pdf();
    return Variant(makeJSDoc(doc_));
  }
  Variant CreateTextSelect(Frame& f) {
    int page = pageArg(f["nPage"]);
    RectValue r = rectOf(f["iAcroRect"]);
    const std::vector<Word>& words = doc_->words(page);
    double l = std::min(r.left, r.right), rr = std::max(r.left, r.right);
    double b = std::min(r.top, r.bottom), t = std::max(r.top, r.bottom);
    std::vector<std::string> pieces;
    for (const Word& w : words) {
      double cx = (w.quad.ul.x + w.quad.ur.x + w.quad.ll.x + w.quad.lr.x) / 4;
      double cy = (w.quad.ul.y + w.quad.ur.y + w.quad.ll.y + w.quad.lr.y) / 4;
      if (cx < l || cx > rr || cy < b || cy > t) continue;
      // Each piece is a word with what follows it: a space inside a line,
      // a line break at its end.
      pieces.push_back(w.text + (w.lineEnd ? std::string("\r\n") : (w.after.empty() ? " " : w.after)));
    }
    return Variant(ObjectRef(std::make_shared<TextSelect>(doc_, page, std::move(pieces))));
  }
  Variant GetFileName(Frame&) {
    doc_->pdf();
    return Variant(doc_->path());
  }
  Variant id(int which) {
    pdf_document* d = doc_->pdf();
    std::string hex;
    const char* s = nullptr;
    size_t n = 0;
    mu::guard("Reading the document identifier", [&](fz_context* c) {
      pdf_obj* ids = pdf_dict_get(c, pdf_trailer(c, d), PDF_NAME(ID));
      pdf_obj* o = pdf_array_get(c, ids, which);
      if (pdf_is_string(c, o)) {
        s = pdf_to_str_buf(c, o);
        n = pdf_to_str_len(c, o);
      }
    });
    static const char* digits = "0123456789abcdef";
    for (size_t i = 0; s && i < n; ++i) {
      unsigned char ch = static_cast<unsigned char>(s[i]);
      hex += digits[ch >> 4];
      hex += digits[ch & 15];
    }
    return Variant(hex);
  }
  Variant GetInstanceID(Frame&) { return id(1); }
  Variant GetPermanentID(Frame&) { return id(0); }

  std::shared_ptr<Doc> doc_;
};

const RegisterClass regPDDoc(
    acrobat::kPDDoc, "", [] { return ObjectRef(std::make_shared<PDDoc>(nullptr)); }, "PDF document (MuPDF)");
const RegisterClass regRect(
    acrobat::kRect, "", [] { return ObjectRef(std::make_shared<Rect>()); }, "Rectangle");

}  // namespace

std::shared_ptr<Doc> docOf(const Variant& v) {
  ObjectRef o = objectOf(v);
  auto h = std::dynamic_pointer_cast<DocHolder>(o);
  if (!h) raise(basic::ObjectRequired, "The argument is not a document of the viewer");
  return h->docState();
}

RectValue rectOf(const Variant& v) {
  ObjectRef o = objectOf(v);
  if (auto r = std::dynamic_pointer_cast<Rect>(o)) return r->value();
  // Any object with the four fields serves, as a late-bound viewer reads them.
  RectValue r;
  r.left = CDbl(get(o, "Left"));
  r.top = CDbl(get(o, "Top"));
  r.right = CDbl(get(o, "Right"));
  r.bottom = CDbl(get(o, "bottom"));
  return r;
}

ObjectRef makePDDoc(std::shared_ptr<Doc> d) {
  return std::make_shared<PDDoc>(std::move(d));
}
ObjectRef makePage(std::shared_ptr<Doc> d, int page) {
  return std::make_shared<Page>(std::move(d), page);
}
ObjectRef makePoint(double x, double y) {
  return std::make_shared<Point>(x, y);
}
ObjectRef makeRect() {
  return std::make_shared<Rect>();
}

}  // namespace pm::pdf
