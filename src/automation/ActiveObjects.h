// The running-object table of this process: a server announces a live
// application object under its ProgID, and a client attaches to it by name
// (GetObject with a class name only) instead of starting a new one. Entries
// hold no ownership; an object that has gone is no longer found.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "automation/Variant.h"
#include "automation/Internal.h"

namespace pm {

// Announces obj under progId; the newest live announcement is found first.
// Returns a token for RevokeActiveObject.
PM_INTERNAL uint64_t RegisterActiveObject(std::string progId, const ObjectRef& obj);
PM_INTERNAL void RevokeActiveObject(uint64_t token);

// The live object announced under progId; error 429 when there is none.
PM_INTERNAL ObjectRef GetActiveObject(std::string_view progId);

}  // namespace pm
