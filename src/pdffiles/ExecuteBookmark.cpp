#include "pdffiles/ExecuteBookmark.h"

namespace pm {

namespace {

bool titleMatches(const std::string& name, const std::string& title, bool caseSensitive, bool wholeTitle) {
  if (caseSensitive) return wholeTitle ? name == title : name.find(title) != std::string::npos;
  if (wholeTitle) return Compare(Variant(name), Variant(title), true) == 0;
  return LCase(name).find(LCase(title)) != std::string::npos;
}

}  // namespace

bool ExecuteBookmarkBelow(const ObjectRef& node, const std::string& title, bool caseSensitive, bool wholeTitle,
                          bool& found) {
  // 1. A node without children cannot give them.
  Variant children;
  if (ignoreErrors([&] { children = get(node, "Children"); }) && children.isArray()) {
    const Array& list = children.array();
    // 2.
    for (int32_t i = list.lbound(1); i <= list.ubound(1); ++i) {
      ObjectRef child;
      if (!ignoreErrors([&] { child = objectOf(list.at({i})); })) continue;
      std::string name;
      bool named = ignoreErrors([&] { name = CStr(get(child, "Name")); });
      if (named && titleMatches(name, title, caseSensitive, wholeTitle)) {
        ignoreErrors([&] { call(child, "Execute"); });
        found = true;
        break;
      }
      found = ExecuteBookmarkBelow(child, title, caseSensitive, wholeTitle, found);
    }
  }
  // 4.
  bool result = found;
  found = false;
  return result;
}

bool ExecuteBookmarkByTitle(const ObjectRef& pdDoc, const std::string& title, bool caseSensitive, bool wholeTitle) {
  ObjectRef js, root;
  if (!ignoreErrors([&] { js = objectOf(call(pdDoc, "GetJSObject")); })) return false;
  if (!ignoreErrors([&] { root = objectOf(get(js, "BookMarkRoot")); })) return false;
  bool found = false;
  return ExecuteBookmarkBelow(root, title, caseSensitive, wholeTitle, found);
}

}  // namespace pm
