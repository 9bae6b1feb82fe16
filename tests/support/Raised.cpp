#include "support/Raised.h"

#include "automation/Error.h"

namespace pm::test {

Raised raised(const std::function<void()>& f) {
  try {
    f();
  } catch (const AutomationError& e) {
    return {e.number(), e.description(), e.source()};
  }
  return {};
}

}  // namespace pm::test
