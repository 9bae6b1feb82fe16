// The bookmark walks over the document JavaScript object's bookmark tree
// that the PDF-file methods and the Document share: reading a bookmark's
// children and name with every failure ignored, the name matching rule, and
// the walk that executes matching bookmarks. Walks go depth-first in display
// order and never deeper than kMaxDepth, so a damaged outline whose items
// lead back to an ancestor still ends.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "automation/Automation.h"

namespace pm::bookmarks {

// Far beyond any outline a reader could use.
inline constexpr int kMaxDepth = 128;

// The children of b in display order. Empty when b has none, when the
// answer is no array, or when reading them fails (the failure is cleared).
// readable (when given) tells whether the read itself succeeded.
std::vector<ObjectRef> Children(const ObjectRef& b, bool* readable = nullptr);

// b's name; false when it cannot be read.
bool NameOf(const ObjectRef& b, std::string& name);

// Which names a search selects: exact or ignoring case (in every script),
// the whole name or any part of it.
struct NameRule {
  std::string text;
  bool caseSensitive = false;
  bool wholeWord = true;
  bool matches(std::string_view name) const;
};

// Below node: in each list of children the first bookmark whose name
// matches is executed and ends the examination of that list; a bookmark
// that does not match is searched in turn. Answers whether some "Execute"
// succeeded. depth is the depth of node (0 for the root).
bool ExecuteMatching(const ObjectRef& node, const NameRule& rule, int depth = 0);

}  // namespace pm::bookmarks
