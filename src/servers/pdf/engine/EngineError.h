// The PDF engine's failures. Whatever goes wrong below the viewer's objects
// (MuPDF's own errors, which guard() catches, and the engine's refusals) is
// an EngineError: the automation error a driven viewer's unspecified failure
// would be (E_FAIL, source AcroExch), so a caller sees the engine's failures
// as it always has, and code of the server can tell them from its own.
#pragma once

#include <cstdint>
#include <string>

#include "automation/Error.h"

namespace pm::mu {

// The number that engine failures carry (E_FAIL).
inline constexpr int32_t kErrEngine = static_cast<int32_t>(0x80004005u);
inline constexpr const char* kEngineSource = "AcroExch";

class EngineError : public AutomationError {
 public:
  explicit EngineError(std::string description);
};

// Raises an EngineError with this description.
[[noreturn]] void fail(const std::string& description);

}  // namespace pm::mu
