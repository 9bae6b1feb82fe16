#include "component/pdffiles/ExecuteBookmark.h"

#include "component/pdffiles/BookmarkWalk.h"

namespace pm {

bool ExecuteBookmarkByTitle(const ObjectRef& pdDoc, const std::string& title, bool caseSensitive, bool wholeTitle) {
  ObjectRef js, root;
  if (!ignoreErrors([&] { js = objectOf(call(pdDoc, "GetJSObject")); })) return false;
  if (!ignoreErrors([&] { root = objectOf(get(js, "BookMarkRoot")); })) return false;
  return bookmarks::ExecuteMatching(root, bookmarks::NameRule{title, caseSensitive, wholeTitle});
}

}  // namespace pm
