// Jumping to a bookmark by its title: the shared executing walk (see
// BookmarkWalk.h) from the bookmark root of a document's JavaScript object.
#pragma once

#include <string>

#include "automation/Automation.h"

namespace pm {

// Failing steps are skipped; the result is whether a bookmark was executed.
bool ExecuteBookmarkByTitle(const ObjectRef& pdDoc, const std::string& title, bool caseSensitive, bool wholeTitle);

}  // namespace pm
