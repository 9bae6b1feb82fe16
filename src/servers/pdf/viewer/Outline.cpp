// The bookmark tree: editing the file's outline, the JavaScript bookmark
// nodes, AcroExch.PDBookmark and the actions bookmarks run.
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>

#include "automation/surfaces/Acrobat.h"
#include "servers/pdf/viewer/Objects.h"

namespace pm::pdf {

namespace {

[[noreturn]] void fail(const std::string& d) {
  throw AutomationError(mu::kErrEngine, mu::kEngineSource, d);
}

constexpr int kMaxItems = 200000;
constexpr int kMaxDepth = 128;
constexpr int kMaxChildren = 10000;

// Plain C helpers that run inside guard(): nothing here has a destructor.
int recountNode(fz_context* c, pdf_obj* node, int depth, int* budget) {
  int total = 0;
  pdf_obj* ch = pdf_dict_get(c, node, PDF_NAME(First));
  // A damaged list whose last item leads back to its first ends there;
  // otherwise every change of such an outline spends the whole budget.
  int first = ch && pdf_is_indirect(c, ch) ? pdf_to_num(c, ch) : 0;
  int seen = 0;
  while (ch && (*budget)-- > 0) {
    if (seen++ && first && pdf_is_indirect(c, ch) && pdf_to_num(c, ch) == first) break;
    int sub = depth < kMaxDepth ? recountNode(c, ch, depth + 1, budget) : 0;
    if (pdf_dict_get(c, ch, PDF_NAME(First))) {
      int open = pdf_dict_get_int(c, ch, PDF_NAME(Count)) >= 0;
      pdf_dict_put_int(c, ch, PDF_NAME(Count), open ? sub : -sub);
      total += 1 + (open ? sub : 0);
    } else {
      pdf_dict_del(c, ch, PDF_NAME(Count));
      total += 1;
    }
    ch = pdf_dict_get(c, ch, PDF_NAME(Next));
  }
  return total;
}

pdf_obj* findNode(fz_context* c, pdf_obj* node, const char* title, int depth, int* budget) {
  for (pdf_obj* ch = pdf_dict_get(c, node, PDF_NAME(First)); ch && (*budget)-- > 0;
       ch = pdf_dict_get(c, ch, PDF_NAME(Next))) {
    const char* t = pdf_to_text_string(c, pdf_dict_get(c, ch, PDF_NAME(Title)));
    if (t && strcmp(t, title) == 0) return ch;
    if (depth < kMaxDepth) {
      pdf_obj* f = findNode(c, ch, title, depth + 1, budget);
      if (f) return f;
    }
  }
  return nullptr;
}

pdf_obj* outlinesOf(fz_context* c, pdf_document* d) {
  return pdf_dict_get(c, pdf_dict_get(c, pdf_trailer(c, d), PDF_NAME(Root)), PDF_NAME(Outlines));
}

// A colour array of the JavaScript object as RGB components.
bool colourOf(const Variant& v, float rgb[3]) {
  if (!v.isArray()) fail("A colour is an array such as [\"RGB\", 1, 0, 0]");
  const Array& a = v.array();
  std::vector<Variant> items = a.data();
  if (items.empty()) fail("A colour array names its colour space first");
  std::string space = UCase(CStr(items[0]));
  auto comp = [&](size_t i) {
    double x = i < items.size() ? CDbl(items[i]) : 0.0;
    return static_cast<float>(std::clamp(x, 0.0, 1.0));
  };
  if (space == "T") return false;
  if (space == "G") {
    rgb[0] = rgb[1] = rgb[2] = comp(1);
  } else if (space == "RGB") {
    rgb[0] = comp(1);
    rgb[1] = comp(2);
    rgb[2] = comp(3);
  } else if (space == "CMYK") {
    float k = comp(4);
    rgb[0] = (1 - comp(1)) * (1 - k);
    rgb[1] = (1 - comp(2)) * (1 - k);
    rgb[2] = (1 - comp(3)) * (1 - k);
  } else {
    fail("Unknown colour space \"" + CStr(items[0]) + "\" (T, G, RGB or CMYK)");
  }
  return true;
}

}  // namespace

pdf_obj* outlineFirstChild(pdf_obj* node) {
  if (!node) return nullptr;
  pdf_obj* f = nullptr;
  mu::guard("Reading the bookmarks", [&](fz_context* c) { f = pdf_dict_get(c, node, PDF_NAME(First)); });
  return f;
}

void outlineRecount(Doc& d) {
  pdf_document* doc = d.pdf();
  mu::guard("Updating the bookmarks", [&](fz_context* c) {
    pdf_obj* root = outlinesOf(c, doc);
    if (!root) return;
    int budget = kMaxItems;
    int total = recountNode(c, root, 0, &budget);
    if (total > 0)
      pdf_dict_put_int(c, root, PDF_NAME(Count), total);
    else
      pdf_dict_del(c, root, PDF_NAME(Count));
  });
}

pdf_obj* outlineInsert(Doc& d, pdf_obj* parent, const std::string& title, const std::string& script, int index,
                       int page) {
  pdf_document* doc = d.pdf();
  if (!parent) fail("The bookmark no longer exists");
  const char* t = title.c_str();
  const char* js = script.c_str();
  bool hasScript = !script.empty();
  pdf_obj* made = nullptr;
  mu::guard("Adding a bookmark", [&](fz_context* c) {
    pdf_obj* item = pdf_add_new_dict(c, doc, 6);
    fz_try(c) {
      pdf_dict_put_text_string(c, item, PDF_NAME(Title), t);
      pdf_dict_put(c, item, PDF_NAME(Parent), parent);
      if (hasScript) {
        pdf_obj* a = pdf_dict_put_dict(c, item, PDF_NAME(A), 2);
        pdf_dict_put(c, a, PDF_NAME(S), PDF_NAME(JavaScript));
        pdf_dict_put_text_string(c, a, PDF_NAME(JS), js);
      } else if (page >= 0) {
        pdf_obj* dest = pdf_dict_put_array(c, item, PDF_NAME(Dest), 2);
        pdf_array_push(c, dest, pdf_lookup_page_obj(c, doc, page));
        pdf_array_push(c, dest, PDF_NAME(Fit));
      }
      pdf_obj* prev = nullptr;
      pdf_obj* cur = pdf_dict_get(c, parent, PDF_NAME(First));
      for (int i = 0; cur && i < index && i < kMaxItems; ++i) {
        prev = cur;
        cur = pdf_dict_get(c, cur, PDF_NAME(Next));
      }
      if (prev) {
        pdf_dict_put(c, item, PDF_NAME(Prev), prev);
        pdf_dict_put(c, prev, PDF_NAME(Next), item);
      } else {
        pdf_dict_put(c, parent, PDF_NAME(First), item);
      }
      if (cur) {
        pdf_dict_put(c, item, PDF_NAME(Next), cur);
        pdf_dict_put(c, cur, PDF_NAME(Prev), item);
      } else {
        pdf_dict_put(c, parent, PDF_NAME(Last), item);
      }
      made = prev ? pdf_dict_get(c, prev, PDF_NAME(Next)) : pdf_dict_get(c, parent, PDF_NAME(First));
    }
    fz_always(c) {
      pdf_drop_obj(c, item);
    }
    fz_catch(c) {
      fz_rethrow(c);
    }
  });
  outlineRecount(d);
  d.changed();
  return made;
}

void outlineRemove(Doc& d, pdf_obj* item) {
  d.pdf();
  if (!item) fail("The bookmark no longer exists");
  mu::guard("Removing a bookmark", [&](fz_context* c) {
    pdf_obj* parent = pdf_dict_get(c, item, PDF_NAME(Parent));
    if (!parent) return;
    pdf_obj* prev = pdf_dict_get(c, item, PDF_NAME(Prev));
    pdf_obj* next = pdf_dict_get(c, item, PDF_NAME(Next));
    if (prev) {
      if (next)
        pdf_dict_put(c, prev, PDF_NAME(Next), next);
      else
        pdf_dict_del(c, prev, PDF_NAME(Next));
    } else if (next) {
      pdf_dict_put(c, parent, PDF_NAME(First), next);
    } else {
      pdf_dict_del(c, parent, PDF_NAME(First));
    }
    if (next) {
      if (prev)
        pdf_dict_put(c, next, PDF_NAME(Prev), prev);
      else
        pdf_dict_del(c, next, PDF_NAME(Prev));
    } else if (prev) {
      pdf_dict_put(c, parent, PDF_NAME(Last), prev);
    } else {
      pdf_dict_del(c, parent, PDF_NAME(Last));
    }
    pdf_dict_del(c, item, PDF_NAME(Parent));
    pdf_dict_del(c, item, PDF_NAME(Prev));
    pdf_dict_del(c, item, PDF_NAME(Next));
  });
  outlineRecount(d);
  d.changed();
}

pdf_obj* outlineFind(Doc& d, const std::string& title) {
  pdf_document* doc = d.pdf();
  const char* t = title.c_str();
  pdf_obj* found = nullptr;
  mu::guard("Searching the bookmarks", [&](fz_context* c) {
    pdf_obj* root = outlinesOf(c, doc);
    int budget = kMaxItems;
    if (root) found = findNode(c, root, t, 0, &budget);
  });
  return found;
}

// ---- Actions ----

namespace {

// The navigation statements a bookmark action of the component consists of.
struct Nav {
  bool ok = true;
  bool setPage = false;
  long page = 0;
  int step = 0;
  bool scroll = false;
  double x = 0, y = 0;
};

std::string squeeze(const std::string& s) {
  std::string o;
  for (char ch : s)
    if (!std::isspace(static_cast<unsigned char>(ch))) o += ch;
  return o;
}

bool parseInt(const std::string& s, long& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  out = std::strtol(s.c_str(), &end, 10);
  return end && *end == 0;
}

bool parseNum(const std::string& s, double& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  out = std::strtod(s.c_str(), &end);
  return end && *end == 0 && std::isfinite(out);
}

Nav parseNav(const std::string& script) {
  Nav n;
  std::string s = squeeze(script);
  size_t pos = 0;
  bool any = false;
  while (pos < s.size()) {
    size_t semi = s.find(';', pos);
    std::string st = s.substr(pos, semi == std::string::npos ? std::string::npos : semi - pos);
    pos = semi == std::string::npos ? s.size() : semi + 1;
    if (st.empty()) continue;
    any = true;
    long v;
    if (st == "this.pageNum++") {
      n.step += 1;
    } else if (st == "this.pageNum--") {
      n.step -= 1;
    } else if (st.rfind("this.pageNum=", 0) == 0 && parseInt(st.substr(13), v)) {
      n.setPage = true;
      n.page = v;
      n.step = 0;
    } else if (st.rfind("this.scroll(", 0) == 0 && st.back() == ')') {
      std::string args = st.substr(12, st.size() - 13);
      size_t comma = args.find(',');
      if (comma == std::string::npos || !parseNum(args.substr(0, comma), n.x) || !parseNum(args.substr(comma + 1), n.y))
        n.ok = false;
      else
        n.scroll = true;
    } else {
      n.ok = false;
    }
  }
  if (!any) n.ok = false;
  return n;
}

}  // namespace

void runScript(Doc& d, const std::string& script) {
  Nav n = parseNav(script);
  if (n.ok) {
    int count = d.pageCount();
    long page = n.setPage ? n.page : d.currentPage;
    page += n.step;
    // The viewer stays on a page of the document.
    if (page < 0) page = 0;
    if (page >= count) page = count - 1;
    d.currentPage = static_cast<int>(page);
    if (n.scroll) {
      d.viewX = n.x;
      d.viewY = n.y;
    }
    return;
  }
  pdf_document* doc = d.pdf();
  int supported = 0;
  char* result = nullptr;
  // The engine's answer is freed also when the script ran out of time.
  struct Answer {
    char*& text;
    ~Answer() { fz_free(mu::ctx(), text); }
  } answer{result};
  const char* code = script.c_str();
  mu::requireBoundedScripts();
  mu::guard("Running the script", [&](fz_context* c) {
    pdf_enable_js(c, doc);
    supported = pdf_js_supported(c, doc);
    if (supported) pdf_js_execute(doc->js, "action", code, &result);
  });
  std::string r = result ? result : "";
  if (!supported) fail("This viewer cannot run document scripts; the action was kept: " + script);
  // The engine answers a failed script with its error text.
  if (r.rfind("Error", 0) == 0 || r.find("Error:") != std::string::npos) fail("The script failed: " + r);
  d.changed();
}

void performOutline(Doc& d, pdf_obj* item) {
  if (!item) fail("The bookmark no longer exists");
  pdf_obj* js = nullptr;
  const char* kind = nullptr;
  const char* uri = nullptr;
  mu::guard("Reading the bookmark's action", [&](fz_context* c) {
    pdf_obj* a = pdf_dict_get(c, item, PDF_NAME(A));
    kind = pdf_to_name(c, pdf_dict_get(c, a, PDF_NAME(S)));
    if (pdf_name_eq(c, pdf_dict_get(c, a, PDF_NAME(S)), PDF_NAME(JavaScript))) js = pdf_dict_get(c, a, PDF_NAME(JS));
    if (pdf_name_eq(c, pdf_dict_get(c, a, PDF_NAME(S)), PDF_NAME(URI)))
      uri = pdf_to_str_buf(c, pdf_dict_get(c, a, PDF_NAME(URI)));
  });
  if (js) {
    std::string script;
    // A script may be a string or a stream.
    pdf_obj* o = js;
    fz_buffer* buf = nullptr;
    mu::guard("Reading the bookmark's script", [&](fz_context* c) {
      if (pdf_is_stream(c, o)) buf = pdf_load_stream(c, o);
    });
    if (buf) {
      mu::BufferPtr b(buf);
      unsigned char* data = nullptr;
      size_t len = fz_buffer_storage(mu::ctx(), buf, &data);
      script.assign(reinterpret_cast<const char*>(data), len);
    } else {
      script = mu::text(o);
    }
    runScript(d, script);
    return;
  }
  int page = d.destinationPage(item);
  if (page >= 0) {
    d.checkPage(page);
    d.currentPage = page;
    moveViewToDestination(d, item);
    return;
  }
  if (uri) fail(std::string("This viewer does not open web links: ") + uri);
  if (kind && *kind) fail(std::string("This viewer cannot perform a bookmark action of type ") + kind);
  // A bookmark without an action does nothing when it is executed.
}

// ---- JavaScript bookmark nodes ----

namespace {

class Node : public Dispatch {
 public:
  explicit Node(std::shared_ptr<OutlineRef> r) : ref_(std::move(r)) {}
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t("Bookmark");
      Members<Node> m(t);
      m.get("name", {}, &Node::getName).let("name", {P("v")}, &Node::letName);
      m.get("children", {}, &Node::getChildren);
      m.get("parent", {}, &Node::getParent);
      m.get("doc", {}, &Node::getDoc);
      m.get("open", {}, &Node::getOpen).let("open", {P("v")}, &Node::letOpen);
      m.get("color", {}, &Node::getColor).let("color", {P("v")}, &Node::letColor);
      m.get("style", {}, &Node::getStyle).let("style", {P("v")}, &Node::letStyle);
      m.method("execute", {}, &Node::execute);
      m.method("createChild", {P("cName"), P("cExpr").opt(std::string()), P("nIndex").opt(int32_t(0))},
               &Node::createChild);
      m.method("setAction", {P("cScript")}, &Node::setAction);
      m.method("remove", {}, &Node::remove);
      return t;
    }();
    return &t;
  }
  std::string typeName() const override { return "Bookmark"; }

 private:
  std::shared_ptr<Doc> doc() const {
    auto d = ref_->doc.lock();
    if (!d || !d->isOpen() || (!ref_->root && !ref_->obj)) fail("The bookmark no longer exists");
    return d;
  }
  // The item; for the root the file's /Outlines, nullptr while it has none.
  pdf_obj* obj() const {
    auto d = doc();
    if (ref_->root) return d->outlines(false);
    return ref_->obj.get();
  }
  void notRoot(const char* what) const {
    if (ref_->root) fail(std::string("The root of the bookmark tree has no ") + what);
  }

  Variant getName(Frame&) {
    if (ref_->root) {
      // The root stands for the document; it carries the document's name.
      auto d = doc();
      std::string p = d->path();
      auto s = p.rfind('/');
      return Variant(s == std::string::npos ? p : p.substr(s + 1));
    }
    pdf_obj* o = obj();
    pdf_obj* t = nullptr;
    mu::guard("Reading the bookmark", [&](fz_context* c) { t = pdf_dict_get(c, o, PDF_NAME(Title)); });
    return Variant(mu::text(t));
  }
  Variant letName(Frame& f) {
    notRoot("name");
    std::string s = CStr(f["v"]);
    pdf_obj* o = obj();
    const char* v = s.c_str();
    mu::guard("Renaming the bookmark", [&](fz_context* c) { pdf_dict_put_text_string(c, o, PDF_NAME(Title), v); });
    doc()->changed();
    return {};
  }
  Variant getChildren(Frame&) {
    auto d = doc();
    std::vector<Variant> items;
    pdf_obj* ch = outlineFirstChild(obj());
    // A damaged file can link siblings into a loop; each item is listed once.
    std::set<int> seen;
    for (int n = 0; ch && n < kMaxChildren; ++n) {
      int num = 0;
      pdf_obj* next = nullptr;
      mu::guard("Reading the bookmarks", [&](fz_context* c) {
        num = pdf_is_indirect(c, ch) ? pdf_to_num(c, ch) : 0;
        next = pdf_dict_get(c, ch, PDF_NAME(Next));
      });
      if (num && !seen.insert(num).second) break;
      items.emplace_back(ObjectRef(std::make_shared<Node>(d->track(ch, false))));
      ch = next;
    }
    // Like the driven viewer, a bookmark without children answers null.
    if (items.empty()) return Variant::null();
    return Variant(Array::vector(std::move(items)));
  }
  Variant getParent(Frame&) {
    if (ref_->root) return Variant::null();
    auto d = doc();
    pdf_obj* o = obj();
    pdf_obj* p = nullptr;
    int isRoot = 0;
    mu::guard("Reading the bookmark", [&](fz_context* c) {
      p = pdf_dict_get(c, o, PDF_NAME(Parent));
      isRoot = p && !pdf_dict_get(c, p, PDF_NAME(Parent));
    });
    if (!p) fail("The bookmark has been removed");
    if (isRoot) return Variant(ObjectRef(std::make_shared<Node>(d->outlineRoot())));
    return Variant(ObjectRef(std::make_shared<Node>(d->track(p, false))));
  }
  Variant getDoc(Frame&) { return Variant(makeJSDoc(doc())); }
  Variant getOpen(Frame&) {
    if (ref_->root) return Variant(true);
    pdf_obj* o = obj();
    int count = 0;
    mu::guard("Reading the bookmark", [&](fz_context* c) { count = pdf_dict_get_int(c, o, PDF_NAME(Count)); });
    return Variant(count >= 0);
  }
  Variant letOpen(Frame& f) {
    bool open = CBool(f["v"]);
    // The root is always shown open.
    if (ref_->root) return {};
    pdf_obj* o = obj();
    mu::guard("Opening the bookmark", [&](fz_context* c) {
      if (!pdf_dict_get(c, o, PDF_NAME(First))) return;  // a leaf shows no state
      int n = pdf_dict_get_int(c, o, PDF_NAME(Count));
      if (n == 0) n = 1;
      pdf_dict_put_int(c, o, PDF_NAME(Count), open ? std::abs(n) : -std::abs(n));
    });
    auto d = doc();
    outlineRecount(*d);
    d->changed();
    return {};
  }
  Variant getColor(Frame&) {
    notRoot("colour");
    pdf_obj* o = obj();
    float rgb[3] = {0, 0, 0};
    mu::guard("Reading the bookmark", [&](fz_context* c) {
      pdf_obj* col = pdf_dict_get(c, o, PDF_NAME(C));
      if (pdf_array_len(c, col) == 3)
        for (int i = 0; i < 3; ++i) rgb[i] = pdf_array_get_real(c, col, i);
    });
    return V({"RGB", double(rgb[0]), double(rgb[1]), double(rgb[2])});
  }
  Variant letColor(Frame& f) {
    notRoot("colour");
    float rgb[3] = {0, 0, 0};
    bool has = colourOf(f["v"], rgb);
    pdf_obj* o = obj();
    pdf_document* pd = doc()->pdf();
    mu::guard("Colouring the bookmark", [&](fz_context* c) {
      if (!has) {
        pdf_dict_del(c, o, PDF_NAME(C));
        return;
      }
      pdf_obj* col = pdf_new_array(c, pd, 3);
      fz_try(c) {
        for (float x : rgb) pdf_array_push_real(c, col, x);
        pdf_dict_put(c, o, PDF_NAME(C), col);
      }
      fz_always(c) {
        pdf_drop_obj(c, col);
      }
      fz_catch(c) {
        fz_rethrow(c);
      }
    });
    doc()->changed();
    return {};
  }
  Variant getStyle(Frame&) {
    notRoot("style");
    pdf_obj* o = obj();
    int s = 0;
    mu::guard("Reading the bookmark", [&](fz_context* c) { s = pdf_dict_get_int(c, o, PDF_NAME(F)); });
    return Variant(int32_t(s & 3));
  }
  Variant letStyle(Frame& f) {
    notRoot("style");
    int32_t s = CLng(f["v"]);
    if (s < 0 || s > 3)
      fail("A bookmark style is 0 (normal), 1 (italic), 2 (bold) or 3 (bold italic), not " + std::to_string(s));
    pdf_obj* o = obj();
    mu::guard("Styling the bookmark", [&](fz_context* c) {
      if (s)
        pdf_dict_put_int(c, o, PDF_NAME(F), s);
      else
        pdf_dict_del(c, o, PDF_NAME(F));
    });
    doc()->changed();
    return {};
  }
  Variant execute(Frame&) {
    auto d = doc();
    if (ref_->root) return {};
    performOutline(*d, obj());
    return {};
  }
  Variant createChild(Frame& f) {
    auto d = doc();
    std::string name = CStr(f["cName"]);
    std::string expr = f["cExpr"].isMissing() ? std::string() : CStr(f["cExpr"]);
    int32_t index = f["nIndex"].isMissing() ? 0 : CLng(f["nIndex"]);
    if (index < 0) index = 0;
    outlineInsert(*d, ref_->root ? d->outlines(true) : obj(), name, expr, index);
    return {};
  }
  Variant setAction(Frame& f) {
    notRoot("action");
    std::string script = CStr(f["cScript"]);
    pdf_obj* o = obj();
    const char* js = script.c_str();
    mu::guard("Setting the bookmark's action", [&](fz_context* c) {
      pdf_dict_del(c, o, PDF_NAME(Dest));
      pdf_obj* a = pdf_dict_put_dict(c, o, PDF_NAME(A), 2);
      pdf_dict_put(c, a, PDF_NAME(S), PDF_NAME(JavaScript));
      pdf_dict_put_text_string(c, a, PDF_NAME(JS), js);
    });
    doc()->changed();
    return {};
  }
  Variant remove(Frame&) {
    notRoot("place to be removed from");
    outlineRemove(*doc(), obj());
    return {};
  }

  std::shared_ptr<OutlineRef> ref_;
};

// ---- AcroExch.PDBookmark ----

class PDBookmark : public Dispatch {
 public:
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t(acrobat::kPDBookmark);
      Members<PDBookmark> m(t);
      m.method("GetByTitle", {P("iPDDoc"), P("bookmarkTitle")}, &PDBookmark::GetByTitle);
      m.method("Perform", {P("iAVDoc")}, &PDBookmark::Perform);
      m.method("SetTitle", {P("newTitle")}, &PDBookmark::SetTitle);
      m.method("GetTitle", {}, &PDBookmark::GetTitle);
      m.method("IsValid", {}, &PDBookmark::IsValid);
      m.method("Destroy", {}, &PDBookmark::Destroy);
      return t;
    }();
    return &t;
  }
  std::string typeName() const override { return acrobat::kPDBookmark; }

 private:
  pdf_obj* item() const {
    auto d = ref_ ? ref_->doc.lock() : nullptr;
    if (!d || !d->isOpen() || !ref_->obj) fail("The bookmark object does not refer to a bookmark");
    return ref_->obj.get();
  }
  Variant GetByTitle(Frame& f) {
    auto d = docOf(f["iPDDoc"]);
    pdf_obj* found = outlineFind(*d, CStr(f["bookmarkTitle"]));
    if (!found) {
      ref_.reset();
      return Variant(false);
    }
    ref_ = d->track(found, false);
    return Variant(true);
  }
  Variant Perform(Frame& f) {
    pdf_obj* o = item();
    auto target = docOf(f["iAVDoc"]);
    auto own = ref_->doc.lock();
    // The action runs in the viewer document given; it must show the
    // bookmark's document.
    if (target != own) fail("The viewer document does not show the bookmark's document");
    performOutline(*own, o);
    return Variant(true);
  }
  Variant SetTitle(Frame& f) {
    pdf_obj* o = item();
    std::string s = CStr(f["newTitle"]);
    const char* v = s.c_str();
    mu::guard("Renaming the bookmark", [&](fz_context* c) { pdf_dict_put_text_string(c, o, PDF_NAME(Title), v); });
    ref_->doc.lock()->changed();
    return Variant(true);
  }
  Variant GetTitle(Frame&) {
    pdf_obj* o = item();
    pdf_obj* t = nullptr;
    mu::guard("Reading the bookmark", [&](fz_context* c) { t = pdf_dict_get(c, o, PDF_NAME(Title)); });
    return Variant(mu::text(t));
  }
  Variant IsValid(Frame&) {
    auto d = ref_ ? ref_->doc.lock() : nullptr;
    return Variant(d && d->isOpen() && ref_->obj != nullptr);
  }
  Variant Destroy(Frame&) {
    outlineRemove(*ref_->doc.lock(), item());
    ref_.reset();
    return Variant(true);
  }
  std::shared_ptr<OutlineRef> ref_;
};

const RegisterClass regBookmark(
    acrobat::kPDBookmark, "", [] { return ObjectRef(std::make_shared<PDBookmark>()); }, "PDF bookmark");

}  // namespace

ObjectRef makeBookmarkNode(std::shared_ptr<OutlineRef> ref) {
  return std::make_shared<Node>(std::move(ref));
}

}  // namespace pm::pdf
