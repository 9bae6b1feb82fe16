// The part of libpressmark that is not API but that the engine modules, the
// pressmark command and the Python extension link to: declarations marked
// PM_INTERNAL are exported in a version node of their own, named with the
// library's full version (cmake/libpressmark.map.in), so a module or program
// built against another release fails to load instead of misbehaving. No
// installed header declares them.
#pragma once

#define PM_INTERNAL __attribute__((visibility("default")))
