// Text set into XML the server writes (XFDF, XMP): markup characters and
// carriage returns as references; line feeds too where the text goes into
// an attribute, whose line ends a reader would otherwise fold into spaces;
// apostrophes where the attribute may be quoted with them (an XMP packet
// written by another program).
#pragma once

#include <string>
#include <string_view>

namespace pm::pdf {

inline std::string xmlEscape(std::string_view s, bool lineFeeds = false, bool apostrophes = false) {
  std::string o;
  o.reserve(s.size());
  for (char ch : s) {
    switch (ch) {
      case '&':
        o += "&amp;";
        break;
      case '<':
        o += "&lt;";
        break;
      case '>':
        o += "&gt;";
        break;
      case '"':
        o += "&quot;";
        break;
      case '\r':
        o += "&#13;";
        break;
      case '\'':
        o += apostrophes ? "&apos;" : "'";
        break;
      case '\n':
        o += lineFeeds ? "&#10;" : "\n";
        break;
      default:
        o += ch;
    }
  }
  return o;
}

}  // namespace pm::pdf
