// The value type is part of the public API (pressmark/Variant.h); the
// automation layer and everything over it name it, and the rest of the
// public API, through its own namespace pm as before.
#pragma once

#include "pressmark/Variant.h"

namespace pm {
using namespace pressmark;
}  // namespace pm
