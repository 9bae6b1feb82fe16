#include "automation/Utf8.h"

namespace pm::utf8 {

Unit decode(std::string_view s, size_t i) {
  unsigned char b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) return {b, 1, true};
  int n = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
  if (n == 0 || i + n > s.size()) return {b, 1, false};
  char32_t cp = b & (0x7F >> n);
  for (int k = 1; k < n; ++k) {
    unsigned char c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return {b, 1, false};
    cp = (cp << 6) | (c & 0x3F);
  }
  // Overlong forms, surrogates and values past the last plane are not UTF-8.
  static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {b, 1, false};
  return {cp, static_cast<size_t>(n), true};
}

void append(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool valid(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    Unit u = decode(s, i);
    if (!u.valid) return false;
    i += u.len;
  }
  return true;
}

}  // namespace pm::utf8
