// Jumping to a bookmark by its title: a depth-first walk over the bookmark
// tree of the document's JavaScript object that executes every matching
// bookmark it reaches.
#pragma once

#include <string>

#include "automation/Automation.h"

namespace pm {

// The walk from the bookmark root of the document's JavaScript object.
// Failing steps are skipped; the result is whether a bookmark was executed.
bool ExecuteBookmarkByTitle(const ObjectRef& pdDoc, const std::string& title, bool caseSensitive, bool wholeTitle);

// The walk below one node. found is the flag shared by every level of one
// walk; the result is its value, and it is reset to false on the way out.
bool ExecuteBookmarkBelow(const ObjectRef& node, const std::string& title, bool caseSensitive, bool wholeTitle,
                          bool& found);

}  // namespace pm
