// Raising and passing on automation errors (the error type and its numbers
// are public: pressmark/Error.h).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "automation/Variant.h"
#include "pressmark/Error.h"
#include "automation/Internal.h"

namespace pm {

// A Basic run-time error with its standard description, or the given one.
[[noreturn]] PM_INTERNAL void raise(int32_t number, std::string description = {}, std::string source = kComponentTitle);

// Convert any exception in flight into an AutomationError: an
// AutomationError is kept; other exceptions become error 51 (bad_alloc 7).
PM_INTERNAL AutomationError currentAsAutomationError();

// The "errors passed on" trap: run the body; on any failure run the
// clean-up (which lets go of what the method holds, ignoring its own
// failures) and raise the error again with the same number and description
// and the component's title as source. The second form releases the listed
// objects.
template <class Body, class CleanUp>
auto passErrorsOn(Body&& body, CleanUp&& cleanUp) -> decltype(body()) {
  try {
    return body();
  } catch (...) {
    AutomationError e = currentAsAutomationError();
    cleanUp();
    throw AutomationError(e.number(), kComponentTitle, e.description());
  }
}
template <class Body>
auto passErrorsOn(std::initializer_list<ObjectRef*> held, Body&& body) -> decltype(body()) {
  return passErrorsOn(std::forward<Body>(body), [&] {
    for (ObjectRef* h : held) h->reset();
  });
}

// The "errors ignored" style for one step: run it, swallow any failure.
template <class Body>
bool ignoreErrors(Body&& body) noexcept {
  try {
    body();
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace pm
