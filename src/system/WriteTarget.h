// Where a write to a path lands. Writers that put a temporary file beside
// the target and rename it over the target use it, so a symbolic link stays
// a link and the file it points to gets the new content.
#pragma once

#include <string>

namespace pm {

// The final target of a chain of symbolic links, or path itself when it is
// no link. A loop or a link that cannot be read gives the last name reached.
std::string WriteTarget(const std::string& path);

}  // namespace pm
