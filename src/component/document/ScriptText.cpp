#include "component/document/ScriptText.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "automation/Convert.h"

namespace pm::script {

std::string Number(double d) {
  if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 1e15) {
    if (d == 0) return "0";  // also for -0
    return std::to_string(static_cast<long long>(d));
  }
  char buf[64];
  // to_chars ignores the locale, unlike printf, so a decimal comma can never
  // reach the script.
  auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15);
  std::string s(buf, r.ptr);
  for (char& c : s) {
    if (c == 'e') c = 'E';
  }
  return s;
}

std::string Number(const Variant& v) {
  return Number(CDbl(v));
}

std::string Quote(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  out += '"';
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\'':
        out += "\\'";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04X", c);
          out += buf;
        } else if (c == 0xE2 && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(s[i + 2]) == 0xA8 || static_cast<unsigned char>(s[i + 2]) == 0xA9)) {
          // U+2028 and U+2029 end a line inside older JavaScript literals.
          out += static_cast<unsigned char>(s[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
          i += 2;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace pm::script
