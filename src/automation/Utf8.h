// UTF-8 one code point at a time, for the text procedures that work on
// characters rather than bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "automation/Internal.h"

namespace pm::utf8 {

// One decoded unit at byte offset i: a code point and its byte length, or a
// lone byte that is not valid UTF-8 (valid false, length 1), so that callers
// can keep such bytes unchanged.
struct Unit {
  char32_t cp;
  size_t len;
  bool valid;
};
PM_INTERNAL Unit decode(std::string_view s, size_t i);

PM_INTERNAL void append(std::string& out, char32_t cp);

// True when every byte of s belongs to a well-formed UTF-8 sequence.
bool valid(std::string_view s);

}  // namespace pm::utf8
