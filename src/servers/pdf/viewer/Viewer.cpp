// The headless viewer: AcroExch.App, AcroExch.AVDoc and the page view. It
// keeps what a viewer keeps (its open documents in front-to-back order, each
// document's current page and zoom, its main window) without drawing
// anything.
#include <algorithm>
#include <cmath>
#include <mutex>

#include "automation/surfaces/Acrobat.h"
#include "servers/pdf/engine/ImageImport.h"
#include "servers/pdf/viewer/Objects.h"
#include "servers/pdf/viewer/OpenView.h"
#include "servers/pdf/viewer/PrintPages.h"
#include "servers/pdf/viewer/ReadAloud.h"
#include "system/WindowTable.h"

namespace pm::pdf {

namespace {

[[noreturn]] void fail(const std::string& d) {
  throw AutomationError(mu::kErrEngine, mu::kEngineSource, d);
}

class AVDoc;

// One viewer per process, as the driven viewer is one per machine.
struct Viewer {
  std::recursive_mutex mu;
  std::vector<std::shared_ptr<AVDoc>> docs;  // the last is in front
  windows::Handle window = 0;
  bool visible = false;
};

Viewer& viewer() {
  // Never destroyed: documents still open in the viewer when the process
  // ends must not be dropped after the engine's per-thread context is gone.
  static Viewer* v = new Viewer;
  return *v;
}

void exitViewer();

// The main window exists while the viewer runs; closing it ends the viewer.
void startViewer() {
  Viewer& v = viewer();
  std::lock_guard<std::recursive_mutex> l(v.mu);
  if (v.window && windows::exists(v.window)) return;
  v.window = windows::create(acrobat::kMainWindowClass, acrobat::kMainWindowTitle, v.visible, [](uint32_t msg) {
    if (msg == windows::kMsgClose || msg == windows::kMsgDestroy) exitViewer();
    return int64_t(0);
  });
}

// ---- Text search ----

std::string fold(const std::string& s, bool caseSensitive) {
  if (caseSensitive) return s;
  std::string out;
  const char* p = s.c_str();
  while (*p) {
    int r;
    p += fz_chartorune(&r, p);
    char buf[8];
    int n = fz_runetochar(buf, fz_tolower(r));
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

bool isWordChar(unsigned char ch) {
  return ch >= 0x80 || std::isalnum(ch) || ch == '_';
}

std::string stripPunct(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && !isWordChar(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && !isWordChar(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}

std::vector<std::string> splitWords(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  for (char ch : text) {
    if (ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n') {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur += ch;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

bool matchAt(const std::vector<Word>& words, size_t i, const std::vector<std::string>& q, bool cs, bool whole) {
  if (i + q.size() > words.size()) return false;
  for (size_t k = 0; k < q.size(); ++k) {
    std::string w = fold(words[i + k].text, cs);
    const std::string& t = q[k];
    if (whole) {
      if (stripPunct(w) != stripPunct(t)) return false;
      continue;
    }
    if (q.size() == 1) return w.find(t) != std::string::npos;
    bool ok = k == 0              ? (w.size() >= t.size() && w.compare(w.size() - t.size(), t.size(), t) == 0)
              : k + 1 == q.size() ? w.rfind(t, 0) == 0
                                  : w == t;
    if (!ok) return false;
  }
  return true;
}

// ---- AVDoc ----

class AVDoc : public DocHolder {
 public:
  AVDoc(std::shared_ptr<Doc> d, std::string title) : doc_(std::move(d)), title_(std::move(title)) {}
  std::shared_ptr<Doc> docState() const override {
    if (!doc_) fail("The viewer document shows no document");
    return doc_;
  }
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t(acrobat::kAVDoc);
      Members<AVDoc> m(t);
      m.method("Open", {P("szFullPath").path(), P("szTempTitle").opt(std::string())}, &AVDoc::Open);
      m.method("IsValid", {}, &AVDoc::IsValid);
      m.method("GetPDDoc", {}, &AVDoc::GetPDDoc);
      m.method("GetAVPageView", {}, &AVDoc::GetAVPageView);
      m.method("PrintPages", {P("nFirstPage"), P("nLastPage"), P("nPSLevel"), P("bBinaryOk"), P("bShrinkToFit")},
               &AVDoc::PrintPages);
      m.method("PrintPagesSilent", {P("nFirstPage"), P("nLastPage"), P("nPSLevel"), P("bBinaryOk"), P("bShrinkToFit")},
               &AVDoc::PrintPages);
      m.method("FindText",
               {P("szText"), P("bCaseSensitive").opt(false), P("bWholeWordsOnly").opt(false), P("bReset").opt(true)},
               &AVDoc::FindText);
      m.method("BringToFront", {}, &AVDoc::BringToFront);
      m.method("Close", {P("bNoSave").opt(true)}, &AVDoc::Close);
      m.method("GetTitle", {}, &AVDoc::GetTitle);
      m.method("SetTitle", {P("szTitle")}, &AVDoc::SetTitle);
      m.method("GetViewMode", {}, &AVDoc::GetViewMode);
      m.method("SetViewMode", {P("nType")}, &AVDoc::SetViewMode);
      return t;
    }();
    return &t;
  }
  std::string typeName() const override { return acrobat::kAVDoc; }

  void join() {
    startViewer();
    Viewer& v = viewer();
    std::lock_guard<std::recursive_mutex> l(v.mu);
    auto self = std::static_pointer_cast<AVDoc>(shared_from_this());
    std::erase(v.docs, self);
    v.docs.push_back(self);
    if (!title_.empty()) doc_->title = title_;
  }
  bool inViewer() {
    Viewer& v = viewer();
    std::lock_guard<std::recursive_mutex> l(v.mu);
    auto self = std::static_pointer_cast<AVDoc>(shared_from_this());
    return std::find(v.docs.begin(), v.docs.end(), self) != v.docs.end();
  }
  void leave() {
    Viewer& v = viewer();
    std::lock_guard<std::recursive_mutex> l(v.mu);
    auto self = std::static_pointer_cast<AVDoc>(shared_from_this());
    std::erase(v.docs, self);
  }
  std::shared_ptr<Doc> doc() const { return doc_; }

 private:
  Variant Open(Frame& f) {
    std::string path = CStr(f["szFullPath"]);
    auto d = std::make_shared<Doc>();
    // An image opens as a new document made from it, as the viewer
    // converts pictures it is asked to open.
    if (!d->open(path) && !importImage(*d, path)) {
      // The document shown before is gone from this viewer document: later
      // calls must not work on it as if it were the file asked for.
      if (inViewer()) leave();
      doc_.reset();
      title_.clear();
      searched_ = false;
      return Variant(false);
    }
    if (inViewer()) leave();
    doc_ = d;
    title_ = f["szTempTitle"].isMissing() ? std::string() : CStr(f["szTempTitle"]);
    if (title_.empty()) {
      auto s = path.rfind('/');
      title_ = s == std::string::npos ? path : path.substr(s + 1);
    }
    join();
    return Variant(true);
  }
  Variant IsValid(Frame&) { return Variant(doc_ && doc_->isOpen() && inViewer()); }
  Variant GetPDDoc(Frame&) { return Variant(makePDDoc(docState())); }
  Variant GetAVPageView(Frame&) { return Variant(makePageView(shared_from_this(), docState())); }
  // Without a dialog to show, the silent form and the other print the same
  // way: the pages go to the default printer at their own size, so the
  // shrink flag has nothing to shrink, and the job is binary PostScript.
  Variant PrintPages(Frame& f) {
    auto d = docState();
    int32_t first = CLng(f["nFirstPage"]), last = CLng(f["nLastPage"]);
    CLng(f["nPSLevel"]);
    CBool(f["bBinaryOk"]);
    CBool(f["bShrinkToFit"]);
    printPages(*d, first, last, title_.empty() ? d->path() : title_);
    return Variant(true);
  }
  Variant FindText(Frame& f) {
    auto d = docState();
    std::string text = CStr(f["szText"]);
    bool cs = CBool(f["bCaseSensitive"]), whole = CBool(f["bWholeWordsOnly"]), reset = CBool(f["bReset"]);
    std::vector<std::string> q = splitWords(fold(text, cs));
    if (q.empty()) return Variant(false);
    int pages = d->pageCount();
    int page = 0;
    size_t from = 0;
    if (!reset && searched_) {
      page = hitPage_;
      from = hitNext_;
    } else if (!reset) {
      page = std::clamp(d->currentPage, 0, pages - 1);
    }
    for (; page < pages; ++page, from = 0) {
      const std::vector<Word>& words = d->words(page);
      for (size_t i = from; i < words.size(); ++i) {
        if (!matchAt(words, i, q, cs, whole)) continue;
        searched_ = true;
        hitPage_ = page;
        hitNext_ = i + 1;
        d->currentPage = page;
        return Variant(true);
      }
    }
    return Variant(false);
  }
  Variant BringToFront(Frame&) {
    docState();
    join();
    return Variant(true);
  }
  Variant Close(Frame&) {
    // Changes stay in the document for its other holders; only a save
    // writes them, so closing without saving loses nothing on disk.
    bool was = inViewer();
    leave();
    return Variant(was);
  }
  Variant GetTitle(Frame&) { return Variant(title_); }
  Variant SetTitle(Frame& f) {
    title_ = CStr(f["szTitle"]);
    return Variant(true);
  }
  Variant GetViewMode(Frame&) { return Variant(int32_t(docState()->pageMode())); }
  Variant SetViewMode(Frame& f) {
    docState()->setPageMode(CLng(f["nType"]));
    return Variant(true);
  }

  std::shared_ptr<Doc> doc_;
  std::string title_;
  bool searched_ = false;
  int hitPage_ = 0;
  size_t hitNext_ = 0;
};

void exitViewer() {
  Viewer& v = viewer();
  std::vector<std::shared_ptr<AVDoc>> docs;
  windows::Handle w = 0;
  {
    std::lock_guard<std::recursive_mutex> l(v.mu);
    docs.swap(v.docs);
    w = v.window;
    v.window = 0;
    v.visible = false;
  }
  if (w) windows::destroy(w);
  // The documents are released outside the lock.
  docs.clear();
}

// ---- Page view ----

class PageView : public DocHolder {
 public:
  PageView(ObjectRef av, std::shared_ptr<Doc> d) : av_(std::move(av)), doc_(std::move(d)) {}
  std::shared_ptr<Doc> docState() const override { return doc_; }
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t("AcroExch.AVPageView");
      Members<PageView> m(t);
      m.method("ZoomTo", {P("nType"), P("nScale").opt(int32_t(100))}, &PageView::ZoomTo);
      m.method("GetZoom", {}, &PageView::GetZoom);
      m.method("GetZoomType", {}, &PageView::GetZoomType);
      m.method("GetPageNum", {}, &PageView::GetPageNum);
      m.method("GoTo", {P("nPage")}, &PageView::GoTo);
      m.method("GetDoc", {}, &PageView::GetDoc);
      m.method("GetPage", {}, &PageView::GetPage);
      m.method("ScrollTo", {P("nX"), P("nY")}, &PageView::ScrollTo);
      m.method("ReadPageDown", {}, &PageView::ReadPageDown);
      m.method("ReadPageUp", {}, &PageView::ReadPageUp);
      return t;
    }();
    return &t;
  }
  std::string typeName() const override { return "AcroExch.AVPageView"; }

 private:
  Variant ZoomTo(Frame& f) {
    int32_t type = CLng(f["nType"]);
    double scale = CDbl(f["nScale"]);
    if (type < 0 || type > 6) fail("Unknown zoom type " + std::to_string(type));
    if (std::isnan(scale)) fail("The zoom scale is not a number");
    doc_->pdf();
    doc_->zoomType = type;
    if (type == acrobat::kZoomNoVary) doc_->zoom = clampZoom(scale);
    // The file keeps the view, so a save stores it.
    storeOpenView(*doc_, std::clamp(doc_->currentPage, 0, doc_->pageCount() - 1), type, doc_->zoom);
    return Variant(true);
  }
  Variant GetZoom(Frame&) { return Variant(int32_t(doc_->zoom)); }
  Variant GetZoomType(Frame&) { return Variant(int16_t(doc_->zoomType)); }
  Variant GetPageNum(Frame&) {
    doc_->pdf();
    return Variant(int32_t(doc_->currentPage));
  }
  Variant GoTo(Frame& f) {
    int32_t p = CLng(f["nPage"]);
    int n = doc_->pageCount();
    if (p < 0 || p >= n) return Variant(false);
    doc_->currentPage = p;
    return Variant(true);
  }
  // The document shown, whose members (its JavaScript object, saving,
  // page mode) a caller of the page view goes on to use.
  Variant GetDoc(Frame&) { return Variant(makePDDoc(doc_)); }
  Variant GetPage(Frame&) { return Variant(makePage(doc_, doc_->currentPage)); }
  Variant ScrollTo(Frame& f) {
    CDbl(f["nX"]);
    CDbl(f["nY"]);
    doc_->pdf();
    return Variant(true);
  }
  Variant ReadPageDown(Frame&) {
    int n = doc_->pageCount();
    if (doc_->currentPage + 1 < n) ++doc_->currentPage;
    return Variant(true);
  }
  Variant ReadPageUp(Frame&) {
    doc_->pdf();
    if (doc_->currentPage > 0) --doc_->currentPage;
    return Variant(true);
  }
  ObjectRef av_;
  std::shared_ptr<Doc> doc_;
};

// ---- App ----

std::shared_ptr<AVDoc> front() {
  Viewer& v = viewer();
  std::lock_guard<std::recursive_mutex> l(v.mu);
  return v.docs.empty() ? nullptr : v.docs.back();
}

// Closes every document of the viewer (outside its lock, which closing
// documents takes).
void closeAllDocs() {
  Viewer& v = viewer();
  std::vector<std::shared_ptr<AVDoc>> docs;
  {
    std::lock_guard<std::recursive_mutex> l(v.mu);
    docs.swap(v.docs);
  }
}

// A menu command as it was called: its name and the front document.
struct MenuCall {
  const std::string& name;
  std::shared_ptr<AVDoc> av;
  std::shared_ptr<Doc> need() const {
    if (!av) fail("The menu command \"" + name + "\" needs a document in the viewer");
    return av->doc();
  }
};

void readAloudFrom(const MenuCall& c, bool onePage) {
  auto d = c.need();
  int n = d->pageCount();
  int from = std::clamp(d->currentPage, 0, n - 1);
  readAloud(*d, from, onePage ? from : n - 1);
}

void turnPage(const MenuCall& c, int (*to)(int current, int pages)) {
  auto d = c.need();
  d->currentPage = to(d->currentPage, d->pageCount());
}

void setZoom(const MenuCall& c, int32_t type) {
  auto d = c.need();
  d->zoomType = type;
  if (type == acrobat::kZoomNoVary) d->zoom = 100;  // the actual size
}

// The viewer's menu commands, by their names in lower case.
struct MenuCommand {
  const char* name;
  void (*run)(const MenuCall&);
};
const MenuCommand kMenuCommands[] = {
    {"adbe:readaloudstart", [](const MenuCall& c) { readAloudFrom(c, true); }},
    {"adbe:readaloudtoend", [](const MenuCall& c) { readAloudFrom(c, false); }},
    // Speech ends before the command that started it returns.
    {"adbe:readaloudstop", [](const MenuCall&) {}},
    {"adbe:readaloudpause", [](const MenuCall&) {}},
    {"newbookmark",
     [](const MenuCall& c) {
       auto d = c.need();
       outlineInsert(*d, d->outlines(true), "Untitled", "", 1 << 30, std::clamp(d->currentPage, 0, d->pageCount() - 1));
     }},
    {"firstpage", [](const MenuCall& c) { turnPage(c, [](int, int) { return 0; }); }},
    {"lastpage", [](const MenuCall& c) { turnPage(c, [](int, int n) { return n - 1; }); }},
    {"nextpage", [](const MenuCall& c) { turnPage(c, [](int p, int n) { return std::min(p + 1, n - 1); }); }},
    {"prevpage", [](const MenuCall& c) { turnPage(c, [](int p, int) { return std::max(p - 1, 0); }); }},
    {"fitpage", [](const MenuCall& c) { setZoom(c, acrobat::kZoomFitPage); }},
    {"fitwidth", [](const MenuCall& c) { setZoom(c, acrobat::kZoomFitWidth); }},
    {"fitheight", [](const MenuCall& c) { setZoom(c, acrobat::kZoomFitHeight); }},
    {"actualsize", [](const MenuCall& c) { setZoom(c, acrobat::kZoomNoVary); }},
    {"close",
     [](const MenuCall& c) {
       c.need();
       c.av->leave();
     }},
    {"closeall", [](const MenuCall&) { closeAllDocs(); }},
    {"quit", [](const MenuCall&) { exitViewer(); }},
};

class App : public Dispatch {
 public:
  App() { startViewer(); }
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t(acrobat::kApp);
      Members<App> m(t);
      m.method("Show", {}, &App::Show);
      m.method("Hide", {}, &App::Hide);
      m.method("Exit", {}, &App::Exit);
      m.method("GetActiveDoc", {}, &App::GetActiveDoc);
      m.method("GetNumAVDocs", {}, &App::GetNumAVDocs);
      m.method("GetAVDoc", {P("nIndex")}, &App::GetAVDoc);
      m.method("CloseAllDocs", {}, &App::CloseAllDocs);
      m.method("MenuItemExecute", {P("szMenuItemName")}, &App::MenuItemExecute);
      m.method("Minimize", {P("bMinimize")}, &App::Minimize);
      m.method("Maximize", {P("bMaximize")}, &App::Minimize);
      m.method("GetLanguage", {}, &App::GetLanguage);
      return t;
    }();
    return &t;
  }
  std::string typeName() const override { return acrobat::kApp; }

 private:
  Variant setVisible(bool on) {
    startViewer();
    Viewer& v = viewer();
    std::lock_guard<std::recursive_mutex> l(v.mu);
    v.visible = on;
    windows::setVisible(v.window, on);
    return Variant(true);
  }
  Variant Show(Frame&) { return setVisible(true); }
  Variant Hide(Frame&) { return setVisible(false); }
  Variant Exit(Frame&) {
    exitViewer();
    return Variant(true);
  }
  Variant GetActiveDoc(Frame&) {
    auto f = front();
    return f ? Variant(ObjectRef(f)) : Variant::nothing();
  }
  Variant GetNumAVDocs(Frame&) {
    Viewer& v = viewer();
    std::lock_guard<std::recursive_mutex> l(v.mu);
    return Variant(int32_t(v.docs.size()));
  }
  Variant GetAVDoc(Frame& f) {
    int32_t i = CLng(f["nIndex"]);
    Viewer& v = viewer();
    std::lock_guard<std::recursive_mutex> l(v.mu);
    // Index 0 is the front document.
    if (i < 0 || static_cast<size_t>(i) >= v.docs.size()) return Variant::nothing();
    return Variant(ObjectRef(v.docs[v.docs.size() - 1 - static_cast<size_t>(i)]));
  }
  Variant CloseAllDocs(Frame&) {
    closeAllDocs();
    return Variant(true);
  }
  Variant Minimize(Frame& f) {
    // By position: Minimize and Maximize share this body, each with its own name.
    CBool(f[0]);
    return Variant(true);
  }
  Variant GetLanguage(Frame&) { return Variant("ENU"); }

  Variant MenuItemExecute(Frame& f) {
    std::string name = CStr(f["szMenuItemName"]);
    std::string k = LCase(name);
    for (const MenuCommand& c : kMenuCommands)
      if (k == c.name) {
        c.run(MenuCall{name, front()});
        return Variant(true);
      }
    fail("The viewer has no menu command \"" + name + "\"");
  }
};

const RegisterClass regApp(
    acrobat::kApp, "", [] { return ObjectRef(std::make_shared<App>()); }, "PDF viewer application");
const RegisterClass regAVDoc(
    acrobat::kAVDoc, "", [] { return ObjectRef(std::make_shared<AVDoc>(nullptr, "")); }, "PDF viewer document");

}  // namespace

ObjectRef makeAVDoc(std::shared_ptr<Doc> d, const std::string& title) {
  auto av = std::make_shared<AVDoc>(d, title.empty() ? d->title : title);
  av->join();
  return av;
}

ObjectRef makePageView(ObjectRef avdoc, std::shared_ptr<Doc> d) {
  return std::make_shared<PageView>(std::move(avdoc), std::move(d));
}

std::shared_ptr<Doc> frontDoc() {
  auto f = front();
  return f ? f->doc() : nullptr;
}

}  // namespace pm::pdf
