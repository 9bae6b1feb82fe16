// UTF-8 <-> UTF-16 for the driver manager's wide calls: a malformed
// sequence or a lone surrogate becomes U+FFFD.
#include <cstdint>

#include "servers/data/Odbc.h"

namespace pm::data {

std::u16string toUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp;
    size_t n;
    if (c < 0x80) {
      cp = c;
      n = 1;
    } else if ((c >> 5) == 6) {
      cp = c & 0x1F;
      n = 2;
    } else if ((c >> 4) == 14) {
      cp = c & 0x0F;
      n = 3;
    } else if ((c >> 3) == 30) {
      cp = c & 0x07;
      n = 4;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    if (i + n > s.size()) {
      out.push_back(0xFFFD);
      break;
    }
    bool ok = true;
    for (size_t k = 1; k < n; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc >> 6) != 2) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (!ok) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

void appendUtf8(std::string& out, const char16_t* s, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    uint32_t cp = s[i];
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    }
    if (cp >= 0x80) out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string toUtf8(const char16_t* s, size_t n) {
  std::string out;
  out.reserve(n);
  appendUtf8(out, s, n);
  return out;
}

}  // namespace pm::data
