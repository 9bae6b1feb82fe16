// Pieces of JavaScript text that the Document and Field members compose.
// Every value a caller gives goes into a script through one of these, so a
// caller's text can never become script code.
#pragma once

#include <string>
#include <string_view>

#include "automation/Variant.h"

namespace pm::script {

// A number as script text: integral values without decimals ("12", "-3"),
// others with "." as decimal point whatever the locale ("0.5", "1.25E+20").
// The value is converted as CDbl does: a text that is no number raises 13.
std::string Number(const Variant& v);
std::string Number(double d);

// A double-quoted JavaScript string literal holding s exactly: quotes,
// backslashes, line ends, other control characters and the two Unicode line
// separators are escaped; everything else (UTF-8) is kept as it is.
std::string Quote(std::string_view s);

}  // namespace pm::script
