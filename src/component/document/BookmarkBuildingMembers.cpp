// Bookmark building: bookmarks made from a caller's table (three layouts),
// one per page, from the numbered headings found in the page text, or one
// at a time under the root or under every bookmark with a given name. Each
// bookmark's action is a short script composed here; every value a caller
// gives goes into it as a number, so no cell of a table can become code.
#include <algorithm>
#include <array>
#include <optional>

#include "component/document/Document.h"
#include "component/document/ScriptText.h"
#include "component/pdffiles/BookmarkWalk.h"

namespace pm {
namespace {

using bookmarks::Children;
using bookmarks::kMaxDepth;
using bookmarks::NameOf;
using bookmarks::NameRule;

ObjectRef rootOf(Document& d) {
  return objectOf(get(d.objJSO, "BookMarkRoot"));
}

// ---- Action scripts (p is the 0-based page) ----
std::string goToPage(const Variant& p) {
  return "this.pageNum = " + script::Number(p) + ";";
}
std::string goToPageAndScroll(const Variant& p, const Variant& x, const Variant& y) {
  return "this.pageNum = " + script::Number(p) + ";this.scroll(" + script::Number(x) + ", " + script::Number(y) + ");";
}
std::string pageList(int32_t p) {
  return "this.pageNum = " + script::Number(double(p));
}
std::string nextPageAndScroll(const Variant& x, const Variant& y) {
  return "this.pageNum++;this.scroll(" + script::Number(x) + ", " + script::Number(y) + ");";
}
constexpr const char* kNextPage = "this.pageNum++;";

// A page as a number: a text that is no number is a type mismatch.
Variant pageNumber(const Variant& v) {
  return Variant(CLng(v));
}
Variant coordinate(const Variant& v) {
  return Variant(CDbl(v));
}

// The bookmark just made among the children (kids, as read after making
// it): the server puts it at the position asked for, or last when the list
// was shorter.
ObjectRef madeAmong(const Variant& kids, int32_t index, int32_t* position = nullptr) {
  const Array& a = kids.array();
  int32_t n = a.ubound(1) - a.lbound(1) + 1;
  if (n <= 0) raise(basic::SubscriptOutOfRange);
  int32_t at = std::clamp(index, int32_t(0), n - 1);
  if (position) *position = at;
  return objectOf(a.at({a.lbound(1) + at}));
}

ObjectRef madeChild(const ObjectRef& parent, int32_t index, int32_t* position = nullptr) {
  return madeAmong(get(parent, "Children"), index, position);
}

// ---- CreateChildBookmark ----

struct ChildPlan {
  std::string name;
  Variant colour;
  int32_t style = 0;
  int16_t index = 0;
  bool expand = false;
  std::string action;  // composed once: every match gets the same
};

// Under bookmark b: the first match of each list of children gets the new
// child and ends that list; the others are searched in turn.
void createUnderMatch(Document& d, const ObjectRef& b, const NameRule& rule, const ChildPlan& plan, int depth) {
  if (depth >= kMaxDepth) return;
  for (const ObjectRef& c : Children(b)) {
    std::string name;
    if (NameOf(c, name) && rule.matches(name)) {
      if (ignoreErrors([&] { call(c, "createChild", {plan.name, plan.action, Variant(plan.index)}); })) {
        ++d.lngWalkCount;
        if (!plan.expand) ignoreErrors([&] { let(c, "Open", Variant(false)); });
        Variant kids;
        ignoreErrors([&] { kids = get(c, "Children"); });
        ObjectRef made;
        if ((plan.colour.isArray() || plan.style >= 1) && ignoreErrors([&] { made = madeAmong(kids, plan.index); })) {
          if (plan.colour.isArray()) ignoreErrors([&] { let(made, "Color", plan.colour); });
          if (plan.style >= 1) ignoreErrors([&] { let(made, "Style", Variant(plan.style)); });
        }
      }
      break;
    }
    createUnderMatch(d, c, rule, plan, depth + 1);
  }
}

Variant CreateChildBookmark(Document& d, Frame& f) {
  ObjectRef root;
  return passErrorsOn({&root}, [&] {
    ChildPlan plan;
    plan.name = CStr(f["strChildBookmark"]);
    std::string parentName = CStr(f["strBookmark"]);
    int32_t requested = CLng(f["lngStyle"]);
    plan.style = requested < 0 || requested > 3 ? 0 : requested;
    plan.colour = f["varColor"];
    plan.expand = CBool(f["blnExpand"]);
    std::string action = CStr(f["strAction"]);
    root = rootOf(d);
    if (Trim(parentName).empty()) {
      plan.index = CInt(f["intIndex"]);
      if (!Trim(action).empty()) {
        plan.action = action;
      } else {
        Variant page = pageNumber(f["lngPageNumber"]);
        bool toPage = page.asLong() > 0;
        Variant p0(int32_t(page.asLong() - (toPage ? 1 : 0)));
        if (CDbl(f["intY"]) == 0) {
          plan.action = toPage ? goToPage(p0) : kNextPage;
        } else {
          Variant x = coordinate(f["intX"]), y = coordinate(f["intY"]);
          plan.action = toPage ? goToPageAndScroll(p0, x, y) : nextPageAndScroll(x, y);
        }
      }
      call(root, "createChild", {plan.name, plan.action, Variant(plan.index)});
      if (!plan.expand) let(root, "Open", Variant(false));
      Variant kids = get(root, "Children");
      if (plan.colour.isArray() || plan.style > 0) {
        ObjectRef made = madeAmong(kids, plan.index);
        if (plan.colour.isArray()) let(made, "Color", plan.colour);
        if (plan.style > 0) let(made, "Style", Variant(plan.style));
      }
      root.reset();
      return Variant(int16_t(1));
    }
    int32_t page = CLng(f["lngPageNumber"]);
    if (page > 0) --page;
    plan.index = CInt(f["intIndex"]);
    int16_t x = CInt(f["intX"]), y = CInt(f["intY"]);
    if (Trim(action).empty())
      plan.action = y != 0 ? goToPageAndScroll(Variant(page), Variant(x), Variant(y)) : goToPage(Variant(page));
    else
      plan.action = action;
    NameRule rule{parentName, CBool(f["blnCaseSensitive"]), CBool(f["blnWholeWord"])};
    struct Scope {
      int32_t& count;
      ~Scope() { count = 0; }
    } scope{d.lngWalkCount};
    d.lngWalkCount = 0;
    createUnderMatch(d, root, rule, plan, 0);
    if (d.lngWalkCount > 32767) raise(basic::Overflow);
    Variant result(static_cast<int16_t>(d.lngWalkCount));
    root.reset();
    return result;
  });
}

// ---- Tables ----

enum class Layout { LevelColumn, Indented, IndentedWithAction };

// One row of a table read in its layout.
struct Row {
  std::string name;
  int32_t level = 0;
  std::string action;
};

class Table {
 public:
  Table(const Variant& v, Layout layout) : layout_(layout) {
    if (v.isEmpty()) return;
    if (!v.isArray()) raise(basic::TypeMismatch);
    a_ = &v.array();
    if (a_->dims() != 2) raise(basic::SubscriptOutOfRange);
    rows_ = a_->size() == 0 ? 0 : a_->ubound(1) + 1;
    if (rows_ < 0) rows_ = 0;
    lastColumn_ = a_->ubound(2);
  }
  int32_t rows() const { return rows_; }
  Variant cell(int32_t r, int32_t c) const { return a_->at({r, c}); }

  int32_t level(int32_t r) const {
    if (layout_ == Layout::LevelColumn) return CInt(cell(r, 1));
    return Document::CountLeadingSpaces(CStr(cell(r, 0)));
  }
  Row row(int32_t r) const {
    Row out;
    std::string first = CStr(cell(r, 0));
    switch (layout_) {
      case Layout::LevelColumn:
        out.name = first;
        out.action = lastColumn_ == 4
                         ? goToPageAndScroll(page0(cell(r, 2)), coordinate(cell(r, 3)), coordinate(cell(r, 4)))
                         : goToPage(page0(cell(r, 2)));
        break;
      case Layout::Indented:
        out.name = first.substr(static_cast<size_t>(Document::CountLeadingSpaces(first)));
        out.action = lastColumn_ == 3
                         ? goToPageAndScroll(page0(cell(r, 1)), coordinate(cell(r, 2)), coordinate(cell(r, 3)))
                         : goToPage(page0(cell(r, 1)));
        break;
      case Layout::IndentedWithAction:
        out.name = first.substr(static_cast<size_t>(Document::CountLeadingSpaces(first)));
        out.action = CStr(cell(r, 1));
        break;
    }
    return out;
  }

 private:
  static Variant page0(const Variant& page) { return Variant(pageNumber(page).asLong() - 1); }
  Layout layout_;
  const Array* a_ = nullptr;
  int32_t rows_ = 0;
  int32_t lastColumn_ = 0;
};

// Builds the rows in outline order. Each bookmark goes into the current
// parent at the place after the previous one; a deeper row descends into
// the bookmark just made (one level, whatever the difference), a shallower
// row ascends by the full difference but never above the root, and goes on
// after the bookmark it ascended from.
int32_t buildFromTable(Document& d, const Table& t, bool expand) {
  if (t.rows() == 0) return 0;
  struct Place {
    ObjectRef parent;
    int32_t next;  // where the next bookmark in this parent goes
  };
  std::vector<Place> path{{rootOf(d), 0}};
  int32_t count = 0;
  for (int32_t i = 0; i < t.rows(); ++i) {
    Row row = t.row(i);
    Place& here = path.back();
    call(here.parent, "createChild", {row.name, row.action, here.next});
    if (!expand) let(here.parent, "Open", Variant(false));
    ++count;
    if (i + 1 == t.rows()) break;
    int32_t level = t.level(i), nextLevel = t.level(i + 1);
    if (nextLevel > level) {
      int32_t at = 0;
      ObjectRef made = madeChild(here.parent, here.next, &at);
      here.next = at + 1;
      path.push_back(Place{made, 0});
    } else {
      ++here.next;
      for (int32_t step = nextLevel; step < level && path.size() > 1; ++step) path.pop_back();
    }
  }
  return count;
}

template <Layout L>
Variant CreateBookmarksFrom(Document& d, Frame& f) {
  return passErrorsOn({}, [&] {
    Table t(f["varArray"], L);
    bool expand = CBool(f["blnExpand"]);
    return Variant(buildFromTable(d, t, expand));
  });
}

Variant CreateBookmarksFromPages(Document& d, Frame& f) {
  ObjectRef root;
  return passErrorsOn({&root}, [&] {
    std::string text = CStr(f["strText"]);
    root = rootOf(d);
    int32_t pages = CLng(get(d.objJSO, "NumPages"));
    for (int32_t i = 0; i < pages; ++i) call(root, "createChild", {text + std::to_string(i + 1), pageList(i), i});
    root.reset();
    return Variant(std::max(pages, int32_t(0)));
  });
}

// ---- Headings found in the page text ----

// The first quad of a word's quads, when the answer is one.
std::optional<Variant> firstQuad(Document& d, int32_t page, int32_t word) {
  Variant quads = call(d.objJSO, "GetPageNthWordQuads", {page, word});
  if (!quads.isArray() || quads.array().size() == 0) return std::nullopt;
  const Array& a = quads.array();
  Variant q = a.at({a.lbound(1)});
  if (!q.isArray()) return std::nullopt;
  return q;
}

Variant quadElement(const Variant& q, int32_t i) {
  return q.array().at({q.array().lbound(1) + i});
}

// Two words are on one line when their heights overlap by at least half the
// smaller one: a heading's words may sit on another baseline than its
// number (another script or font size), but they share the line.
bool sameLine(const Variant& a, const Variant& b) {
  auto extent = [](const Variant& q) {
    double lo = CDbl(quadElement(q, 1)), hi = lo;
    for (int32_t i = 3; i < 8; i += 2) {
      double y = CDbl(quadElement(q, i));
      lo = std::min(lo, y);
      hi = std::max(hi, y);
    }
    return std::pair<double, double>(lo, hi);
  };
  auto [aLo, aHi] = extent(a);
  auto [bLo, bHi] = extent(b);
  // Quads without height (as some engines give) have only their tops.
  if (aHi <= aLo || bHi <= bLo) return Compare(quadElement(a, 1), quadElement(b, 1)) == 0;
  double overlap = std::min(aHi, bHi) - std::max(aLo, bLo);
  return overlap > 0 && overlap >= 0.5 * std::min(aHi - aLo, bHi - bLo);
}

std::string withoutLineBreaks(std::string s) {
  std::erase_if(s, [](char c) { return c == '\t' || c == '\r' || c == '\n'; });
  return s;
}

// The level of a heading number, or nothing for a word that is none: "1."
// is level 1, "2.3" level 2, "2.3.1" level 3.
std::optional<int32_t> headingLevel(const std::string& word) {
  if (word.empty()) return std::nullopt;
  if (word.back() == '.') {
    if (IsNumeric(Variant(word))) return 1;
    return std::nullopt;
  }
  if (word.find('.') == std::string::npos) return std::nullopt;
  size_t start = 0;
  while (true) {
    size_t dot = word.find('.', start);
    std::string part = word.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (!Document::StartsWithDigit(part)) return std::nullopt;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return Document::CountPeriods(word) + 1;
}

Variant CreateBookmarksFromOutline(Document& d, Frame& f) {
  ObjectRef root;
  return passErrorsOn({&root}, [&] {
    root = rootOf(d);
    int32_t start = CLng(f["lngStartPage"]), end = CLng(f["lngEndPage"]);
    int32_t last = end > 0 ? end - 1 : CLng(get(d.objJSO, "NumPages")) - 1;
    int32_t first = start > 0 ? start - 1 : 0;
    // The headings go straight into the table the builder reads, in the
    // five-column layout: name, level, 1-based page, x, y.
    std::vector<std::array<Variant, 5>> rows;
    for (int32_t p = first; p <= last; ++p) {
      int32_t words = CInt(call(d.objJSO, "getPageNumWords", {p}));
      for (int32_t w = 0; w < words; ++w) {
        Variant raw = call(d.objJSO, "GetPageNthWord", {p, w, false});
        if (!raw.isString()) continue;
        std::string word = Trim(withoutLineBreaks(raw.asString()));
        auto startsLine = [&] {
          if (w == 0) return true;
          std::optional<Variant> before = firstQuad(d, p, w - 1), here = firstQuad(d, p, w);
          return before && here && !sameLine(*here, *before);
        };
        std::optional<int32_t> level = headingLevel(word);
        if (!level || !startsLine()) continue;
        std::optional<Variant> q = firstQuad(d, p, w);
        if (!q) continue;
        std::string title;
        // The title is the rest of the heading's line; the page's last word
        // ends it too.
        for (int32_t k = w + 1; k < words; ++k) {
          std::optional<Variant> qk = firstQuad(d, p, k);
          if (!qk || !sameLine(*qk, *q)) break;
          title += CStr(call(d.objJSO, "GetPageNthWord", {p, k, false}));
        }
        title = withoutLineBreaks(title);
        rows.push_back(
            {Variant(word + " " + title), Variant(*level), Variant(p + 1), quadElement(*q, 0), quadElement(*q, 1)});
      }
    }
    int32_t headings = static_cast<int32_t>(rows.size());
    if (headings > 0) {
      Variant table(Array::matrix(headings, 5));
      for (int32_t r = 0; r < headings; ++r)
        for (int32_t c = 0; c < 5; ++c)
          table.arrayMut().set({r, c}, rows[static_cast<size_t>(r)][static_cast<size_t>(c)]);
      buildFromTable(d, Table(table, Layout::LevelColumn), false);
    }
    root.reset();
    return Variant(headings);
  });
}

void describe(Members<Document>& m) {
  const char* fromArray = "Create bookmarks in the current document from a two dimensional array.";
  m.method("CreateBookmarksFromArray", {P("varArray"), P("blnExpand").opt(false)},
           &CreateBookmarksFrom<Layout::LevelColumn>, fromArray)
      .method("CreateBookmarksFromArray2", {P("varArray"), P("blnExpand").opt(false)},
              &CreateBookmarksFrom<Layout::Indented>, fromArray)
      .method("CreateBookmarksFromArray3", {P("varArray"), P("blnExpand").opt(false)},
              &CreateBookmarksFrom<Layout::IndentedWithAction>, fromArray)
      .method("CreateBookmarksFromOutline", {P("lngStartPage").opt(int32_t(0)), P("lngEndPage").opt(int32_t(0))},
              &CreateBookmarksFromOutline,
              "Create bookmarks in the current document from an outline. The outline is defined by a numbering "
              "scheme (ie 1.1, 1.1.1, 2.1, 2.2).")
      .method("CreateBookmarksFromPages", {P("strText").opt(std::string("Page "))}, &CreateBookmarksFromPages,
              "Create bookmarks in the current document from its pages.")
      .method(
          "CreateChildBookmark",
          {P("strChildBookmark"), P("strBookmark").opt(std::string()), P("lngPageNumber").opt(int32_t(0)),
           P("intIndex").opt(int16_t(0)), P("varColor").opt(Variant::nothing()), P("lngStyle").byVal().opt(int32_t(0)),
           P("blnCaseSensitive").opt(false), P("blnWholeWord").opt(true), P("intX").opt(int16_t(0)),
           P("intY").opt(int16_t(0)), P("blnExpand").opt(false), P("strAction").opt(std::string())},
          &CreateChildBookmark, "Create a child bookmark.");
}

const DocumentMembers::Register reg("bookmark_building", &describe);

}  // namespace
}  // namespace pm
