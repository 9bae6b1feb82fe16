// The document the Word benchmarks convert: five pages of ordinary text in
// one font, as rich text.
#pragma once

#include <string>

namespace bench {

inline std::string fivePages() {
  std::string s = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 DejaVu Sans;}}\\paperw11906\\paperh16838\n";
  for (int i = 1; i <= 5; ++i) {
    if (i > 1) s += "\\page\n";
    s += "\\pard\\f0\\fs24 Page " + std::to_string(i) + ".";
    for (int k = 0; k < 40; ++k) s += " Some words to fill the page with text of an ordinary kind.";
    s += "\\par\n";
  }
  return s + "}\n";
}

}  // namespace bench
