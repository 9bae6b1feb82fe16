// Bookmark search and change: finding the document's bookmarks by name and
// executing, renaming, recolouring, restyling, re-targeting or removing them,
// listing their names, and changing every bookmark (or every one at a depth)
// at once. Each public member passes its errors on; the walks below ignore
// each failing step and go on with the next.
#include "component/document/Document.h"
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

// The walk state lives in the Document; every walk leaves it as it found it
// (0), also when it ends by an error.
struct CountScope {
  explicit CountScope(int32_t& c) : count(c) { count = 0; }
  ~CountScope() { count = 0; }
  int32_t& count;
};

// The search options of the finding members, converted once before a walk.
struct Search {
  NameRule rule;
  bool selectAll = false;  // no name given: bookmarks are taken in order
  bool searchAll = false;
};

Search searchOf(const Variant& text, const Variant& caseSensitive, const Variant& wholeWord, const Variant* searchAll) {
  Search s;
  s.rule.text = CStr(text);
  s.rule.caseSensitive = CBool(caseSensitive);
  s.rule.wholeWord = CBool(wholeWord);
  if (searchAll) s.searchAll = CBool(*searchAll);
  s.selectAll = Trim(s.rule.text).empty();
  return s;
}

// The changing and removing walk below b. change answers whether its call
// succeeded; only those are counted. A removed bookmark is never entered.
template <class Change>
void changeMatching(Document& d, const ObjectRef& b, const Search& s, bool removing, int depth, Change& change) {
  if (depth >= kMaxDepth) return;
  for (const ObjectRef& c : Children(b)) {
    bool selected = false;
    if (s.selectAll) {
      selected = true;
    } else {
      std::string name;
      selected = NameOf(c, name) && s.rule.matches(name);
    }
    bool changed = false;
    if (selected) {
      changed = change(c);
      if (changed) ++d.lngWalkCount;
      // Removing with no name takes every bookmark; otherwise without
      // searchAll one per list of children.
      if (!s.searchAll && !(removing && s.selectAll)) break;
    }
    if (removing && changed) continue;
    changeMatching(d, c, s, removing, depth + 1, change);
  }
}

template <class Change>
Variant changeWalk(Document& d, const Search& s, bool removing, Change change) {
  ObjectRef root;
  return passErrorsOn({&root}, [&] {
    root = rootOf(d);
    CountScope scope(d.lngWalkCount);
    changeMatching(d, root, s, removing, 0, change);
    Variant result(d.lngWalkCount);
    root.reset();
    return result;
  });
}

Variant SetBookmarkAction(Document& d, Frame& f) {
  std::string action;
  Search s;
  passErrorsOn({}, [&] {
    action = CStr(f["strAction"]);
    s = searchOf(f["strBookmark"], f["blnCaseSensitive"], f["blnWholeWord"], &f["blnSearchAll"]);
  });
  return changeWalk(d, s, false,
                    [&](const ObjectRef& c) { return ignoreErrors([&] { call(c, "setAction", {action}); }); });
}

Variant SetBookmarkColor(Document& d, Frame& f) {
  if (!f["varColor"].isArray()) return Variant(int32_t(-1));
  Search s;
  passErrorsOn({},
               [&] { s = searchOf(f["strBookmark"], f["blnCaseSensitive"], f["blnWholeWord"], &f["blnSearchAll"]); });
  // A bare list of numbers is a colour in the space its length says (a
  // triple is RGB), as the bookmark's own colour takes it.
  Variant colour = f["varColor"];
  const Array& given = f["varColor"].array();
  if (given.size() == 1 || given.size() == 3 || given.size() == 4) {
    std::vector<Variant> items;
    bool numbers = true;
    for (int32_t i = given.lbound(1); i <= given.ubound(1); ++i) {
      items.push_back(given.at({i}));
      numbers = numbers && IsNumeric(items.back()) && !items.back().isString();
    }
    if (numbers) {
      items.insert(items.begin(), Variant(given.size() == 1 ? "G" : given.size() == 3 ? "RGB" : "CMYK"));
      colour = Variant(Array::vector(std::move(items)));
    }
  }
  return changeWalk(d, s, false, [&](const ObjectRef& c) { return ignoreErrors([&] { let(c, "Color", colour); }); });
}

Variant SetBookmarkName(Document& d, Frame& f) {
  std::string name;
  Search s;
  passErrorsOn({}, [&] {
    name = CStr(f["strName"]);
    s = searchOf(f["strBookmark"], f["blnCaseSensitive"], f["blnWholeWord"], &f["blnSearchAll"]);
  });
  return changeWalk(d, s, false, [&](const ObjectRef& c) { return ignoreErrors([&] { let(c, "Name", name); }); });
}

Variant SetBookmarkStyle(Document& d, Frame& f) {
  int16_t style = 0;
  Search s;
  passErrorsOn({}, [&] {
    int32_t requested = CLng(f["lngStyle"]);
    style = requested < 0 || requested > 3 ? int16_t(0) : static_cast<int16_t>(requested);
    s = searchOf(f["strBookmark"], f["blnCaseSensitive"], f["blnWholeWord"], &f["blnSearchAll"]);
  });
  return changeWalk(d, s, false,
                    [&](const ObjectRef& c) { return ignoreErrors([&] { let(c, "Style", Variant(style)); }); });
}

Variant RemoveBookmark(Document& d, Frame& f) {
  Search s;
  passErrorsOn({},
               [&] { s = searchOf(f["strBookmark"], f["blnCaseSensitive"], f["blnWholeWord"], &f["blnSearchAll"]); });
  return changeWalk(d, s, true, [](const ObjectRef& c) { return ignoreErrors([&] { call(c, "Remove"); }); });
}

// ---- Every bookmark, or every bookmark at one depth ----

void expandAll(Document& d, const ObjectRef& b, bool expand, int depth) {
  if (depth >= kMaxDepth) return;
  for (const ObjectRef& c : Children(b)) {
    if (ignoreErrors([&] { let(c, "Open", Variant(expand)); })) ++d.lngWalkCount;
    expandAll(d, c, expand, depth + 1);
  }
}

Variant SetBookmarkExpanded(Document& d, Frame& f) {
  ObjectRef root;
  return passErrorsOn({&root}, [&] {
    bool expand = CBool(f["blnExpand"]);
    root = rootOf(d);
    CountScope scope(d.lngWalkCount);
    expandAll(d, root, expand, 0);
    root.reset();
    return Variant(d.lngWalkCount);
  });
}

void setAtLevel(Document& d, const ObjectRef& b, const Variant& colour, int32_t style, int16_t level, int depth) {
  if (depth >= kMaxDepth) return;
  bool readable = false;
  std::vector<ObjectRef> children = Children(b, &readable);
  if (!readable) return;
  ++d.intBookmarkLevel;
  for (const ObjectRef& c : children) {
    if (d.intBookmarkLevel == level) {
      bool coloured = ignoreErrors([&] { let(c, "Color", colour); });
      bool styled = ignoreErrors([&] { let(c, "Style", Variant(style)); });
      if (coloured && styled) ++d.lngWalkCount;
    }
    // Below the level asked for there is nothing left to change.
    if (d.intBookmarkLevel < level) setAtLevel(d, c, colour, style, level, depth + 1);
  }
  --d.intBookmarkLevel;
}

Variant SetBookmarkProperty(Document& d, Frame& f) {
  if (!f["varColor"].isArray()) return Variant(int32_t(-1));
  ObjectRef root;
  return passErrorsOn({&root}, [&] {
    int32_t style = CLng(f["lngStyle"]);
    int16_t level = CInt(f["intLevel"]);
    root = rootOf(d);
    CountScope scope(d.lngWalkCount);
    // The depth counter is the Document's; it is back at its start however
    // the walk ends.
    struct LevelScope {
      int16_t& level;
      int16_t start;
      ~LevelScope() { level = start; }
    } levelScope{d.intBookmarkLevel, d.intBookmarkLevel};
    setAtLevel(d, root, f["varColor"], style, level, 0);
    root.reset();
    return Variant(d.lngWalkCount);
  });
}

// ---- Names ----

void collectNames(const ObjectRef& b, std::vector<Variant>& names, int depth) {
  if (depth >= kMaxDepth) return;
  for (const ObjectRef& c : Children(b)) {
    std::string name;
    if (NameOf(c, name)) names.emplace_back(std::move(name));
    collectNames(c, names, depth + 1);
  }
}

// Every name in walk order, each one entry whatever characters it holds.
std::vector<Variant> allNames(Document& d) {
  ObjectRef root = rootOf(d);
  std::vector<Variant> names;
  collectNames(root, names, 0);
  return names;
}

Variant GetBookmarks(Document& d, Frame& f) {
  return passErrorsOn({}, [&] {
    std::vector<Variant> names = allNames(d);
    int32_t n = static_cast<int32_t>(names.size());
    f["varBookmarks"] = Variant(Array::vector(std::move(names)));
    return Variant(n);
  });
}

Variant BookmarkExists(Document& d, Frame& f) {
  return passErrorsOn({}, [&] {
    Search s = searchOf(f["strBookmark"], f["blnCaseSensitive"], f["blnWholeWord"], nullptr);
    for (const Variant& name : allNames(d))
      if (s.rule.matches(name.asString())) return Variant(true);
    return Variant(false);
  });
}

Variant ExecuteBookmark(Document& d, Frame& f) {
  ObjectRef root;
  return passErrorsOn({&root}, [&] {
    Search s = searchOf(f["strBookmark"], f["blnCaseSensitive"], f["blnWholeWord"], nullptr);
    root = rootOf(d);
    d.blnWalkFound = bookmarks::ExecuteMatching(root, s.rule, 0);
    bool found = d.blnWalkFound;
    d.blnWalkFound = false;
    root.reset();
    return Variant(found);
  });
}

// The search parameters every finding member shares, after its own.
std::vector<ParamSpec> withSearch(std::vector<ParamSpec> first, bool searchAll) {
  first.push_back(P("strBookmark").opt(std::string()));
  first.push_back(P("blnCaseSensitive").opt(false));
  first.push_back(P("blnWholeWord").opt(true));
  if (searchAll) first.push_back(P("blnSearchAll").opt(false));
  return first;
}

void describe(Members<Document>& m) {
  m.method("BookmarkExists", {P("strBookmark"), P("blnCaseSensitive").opt(false), P("blnWholeWord").opt(true)},
           &BookmarkExists, "Determine if a bookmark exists within the document.")
      .method("GetBookmarks", {P("varBookmarks")}, &GetBookmarks, "Get all bookmarks as an array.")
      .method("ExecuteBookmark", {P("strBookmark"), P("blnCaseSensitive").opt(false), P("blnWholeWord").opt(true)},
              &ExecuteBookmark, "Execute a bookmark.")
      .method("RemoveBookmark", withSearch({}, true), &RemoveBookmark, "Remove bookmarks in document.")
      .method("SetBookmarkAction", withSearch({P("strAction")}, true), &SetBookmarkAction, "Set bookmark action.")
      .method("SetBookmarkColor", withSearch({P("varColor")}, true), &SetBookmarkColor, "Set bookmark color.")
      .method("SetBookmarkName", withSearch({P("strName")}, true), &SetBookmarkName, "Set bookmark name.")
      .method("SetBookmarkStyle", withSearch({P("lngStyle").byVal()}, true), &SetBookmarkStyle, "Set bookmark style.")
      .method("SetBookmarkExpanded", {P("blnExpand")}, &SetBookmarkExpanded, "Set bookmark expanded property.")
      .method("SetBookmarkProperty", {P("varColor"), P("lngStyle").byVal(), P("intLevel")}, &SetBookmarkProperty,
              "Set bookmark property.");
}

const DocumentMembers::Register reg("bookmarks", &describe);

}  // namespace
}  // namespace pm
