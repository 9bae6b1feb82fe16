// Automation errors: a number (a Basic run-time error number or a 32-bit
// HRESULT), the source that raised it and a description.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>

#include "automation/Variant.h"

namespace pm {

// The component's title: the source of every error the component raises.
inline constexpr const char* kComponentTitle = "Pressmark";

// The component's own failure number (&H80004100).
inline constexpr int32_t kErrComponent = static_cast<int32_t>(0x80004100u);

namespace basic {
inline constexpr int32_t InvalidProcedureCall = 5;
inline constexpr int32_t Overflow = 6;
inline constexpr int32_t OutOfMemory = 7;
inline constexpr int32_t SubscriptOutOfRange = 9;
inline constexpr int32_t DivisionByZero = 11;
inline constexpr int32_t TypeMismatch = 13;
inline constexpr int32_t InternalError = 51;
inline constexpr int32_t BadFileNameOrNumber = 52;
inline constexpr int32_t FileNotFound = 53;
inline constexpr int32_t FileAlreadyOpen = 55;
inline constexpr int32_t FileAlreadyExists = 58;
inline constexpr int32_t DiskFull = 61;
inline constexpr int32_t InputPastEnd = 62;
inline constexpr int32_t PermissionDenied = 70;
inline constexpr int32_t PathFileAccess = 75;
inline constexpr int32_t PathNotFound = 76;
inline constexpr int32_t ObjectVariableNotSet = 91;
inline constexpr int32_t InvalidUseOfNull = 94;
inline constexpr int32_t ObjectRequired = 424;
inline constexpr int32_t CannotCreateObject = 429;
inline constexpr int32_t NoAutomation = 430;
inline constexpr int32_t MemberNotSupported = 438;
inline constexpr int32_t WrongArgumentCount = 450;
inline constexpr int32_t ArgumentNotOptional = 449;
inline constexpr int32_t AutomationErrorNumber = 440;
}  // namespace basic

// The standard description of a Basic run-time error number ("" if unknown).
const char* basicDescription(int32_t number);

class AutomationError : public std::runtime_error {
 public:
  AutomationError(int32_t number, std::string source, std::string description);
  int32_t number() const { return number_; }
  const std::string& source() const { return source_; }
  const std::string& description() const { return description_; }

 private:
  int32_t number_;
  std::string source_;
  std::string description_;
};

// A Basic run-time error with its standard description, or the given one.
[[noreturn]] void raise(int32_t number, std::string description = {}, std::string source = kComponentTitle);

// Convert any exception in flight into an AutomationError: an
// AutomationError is kept; other exceptions become error 51 (bad_alloc 7).
AutomationError currentAsAutomationError();

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
