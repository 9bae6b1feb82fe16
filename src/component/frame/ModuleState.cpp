#include "component/frame/ModuleState.h"

namespace pm {

ModuleState& moduleState() {
  thread_local ModuleState state;
  return state;
}

}  // namespace pm
