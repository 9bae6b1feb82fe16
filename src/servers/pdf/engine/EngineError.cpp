#include "servers/pdf/engine/EngineError.h"

namespace pm::mu {

EngineError::EngineError(std::string description)
    : AutomationError(kErrEngine, kEngineSource, std::move(description)) {}

void fail(const std::string& description) {
  throw EngineError(description);
}

}  // namespace pm::mu
