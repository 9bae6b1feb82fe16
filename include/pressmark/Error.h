// Automation errors: a number (a Basic run-time error number or a 32-bit
// HRESULT), the source that raised it and a description. Every failure of a
// call reaches a client as an AutomationError.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "pressmark/Export.h"

namespace pressmark {

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
PRESSMARK_API const char* basicDescription(int32_t number);

class PRESSMARK_API AutomationError : public std::runtime_error {
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

}  // namespace pressmark
