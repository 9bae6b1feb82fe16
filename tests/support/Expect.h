// One-line checks the PDF tests share: an automation error whose
// description holds a text, and a text that holds another.
#pragma once

#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "support/Raised.h"

// The statement (the arguments after part) raises an automation error whose
// description holds part.
#define EXPECT_RAISES(part, ...) \
  EXPECT_THAT(::pm::test::raised([&] { __VA_ARGS__; }).description, ::testing::HasSubstr(part))

namespace pm::test {

using ::testing::HasSubstr;
using ::testing::Not;

MATCHER_P(HoldsAllOf, parts, "holds every one of the parts") {
  for (const std::string& p : parts)
    if (std::string(arg).find(p) == std::string::npos) {
      *result_listener << "lacks " << p;
      return false;
    }
  return true;
}
// The text holds every part, in any order.
inline auto HoldsAll(std::vector<std::string> parts) {
  return HoldsAllOf(std::move(parts));
}

}  // namespace pm::test
