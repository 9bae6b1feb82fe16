#include "component/pdffiles/BookmarkWalk.h"

namespace pm::bookmarks {

std::vector<ObjectRef> Children(const ObjectRef& b, bool* readable) {
  std::vector<ObjectRef> out;
  Variant v;
  bool ok = ignoreErrors([&] { v = get(b, "Children"); });
  if (readable) *readable = ok;
  if (!ok || !v.isArray()) return out;
  const Array& a = v.array();
  if (a.dims() != 1) return out;
  for (int32_t i = a.lbound(1); i <= a.ubound(1); ++i) {
    const Variant& item = a.at({i});
    // A hole in the list is skipped like any other failing step.
    if (item.isObject() && item.asObject()) out.push_back(item.asObject());
  }
  return out;
}

bool NameOf(const ObjectRef& b, std::string& name) {
  return ignoreErrors([&] { name = CStr(get(b, "Name")); });
}

bool NameRule::matches(std::string_view name) const {
  if (wholeWord) return StrComp(name, text, !caseSensitive) == 0;
  return InStr(1, name, text, !caseSensitive) > 0;
}

bool ExecuteMatching(const ObjectRef& node, const NameRule& rule, int depth) {
  if (depth >= kMaxDepth) return false;
  bool executed = false;
  for (const ObjectRef& child : Children(node)) {
    std::string name;
    if (NameOf(child, name) && rule.matches(name)) {
      // Only an action that ran counts as executed.
      if (ignoreErrors([&] { call(child, "Execute"); })) executed = true;
      break;
    }
    if (ExecuteMatching(child, rule, depth + 1)) executed = true;
  }
  return executed;
}

}  // namespace pm::bookmarks
