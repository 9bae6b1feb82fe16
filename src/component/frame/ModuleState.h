// State that exists once per calling thread and is shared by every object of
// the component on that thread; creators set it and create the reader at
// once, on the same thread.
#pragma once

#include <string>

#include "automation/Variant.h"

namespace pm {

struct ModuleState {
  std::string strAcrobatVersion;
  std::string strTempFilePath;
  std::string strOpenDocumentPath;
  std::string strFieldRequestName;
  ObjectRef objFieldRequestJS;
};

ModuleState& moduleState();

}  // namespace pm
