// The field object that getField hands out.
#pragma once

#include <memory>
#include <string>

#include "automation/Automation.h"
#include "servers/pdf/engine/Doc.h"

namespace pm::pdf {

// A field is found again by its full name at every use, so it stays valid
// when a save reopens the document, and reports clearly when it has gone.
ObjectRef makeField(std::shared_ptr<Doc> d, std::string fullName);

}  // namespace pm::pdf
