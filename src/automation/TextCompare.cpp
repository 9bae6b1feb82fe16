#include "automation/TextCompare.h"

#include <algorithm>
#include <vector>

#include "automation/Utf8.h"

namespace pm {
namespace {

struct CaseMap {
  char32_t from;
  char32_t to;
};
#include "automation/CaseTables.inc"

char32_t mapped(const CaseMap* begin, const CaseMap* end, char32_t c) {
  if (c < 0x80) return c;  // callers handle ASCII themselves; this keeps the hot path short
  const CaseMap* it = std::lower_bound(begin, end, c, [](const CaseMap& m, char32_t v) { return m.from < v; });
  return it != end && it->from == c ? it->to : c;
}

using utf8::decode;
using utf8::Unit;

template <class Map>
std::string transform(std::string_view s, Map map) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    Unit u = decode(s, i);
    if (!u.valid) {
      out += s[i];
    } else {
      utf8::append(out, map(u.cp));
    }
    i += u.len;
  }
  return out;
}

char32_t lowerOf(char32_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 32 : c;
  return mapped(std::begin(kLower), std::end(kLower), c);
}
char32_t upperOf(char32_t c) {
  if (c < 0x80) return c >= 'a' && c <= 'z' ? c - 32 : c;
  return mapped(std::begin(kUpper), std::end(kUpper), c);
}
// Upper then lower joins the forms one letter has in several cases (final
// and medial sigma, the Kelvin sign and k, the long s and s).
char32_t foldOf(char32_t c) {
  return lowerOf(upperOf(c));
}

bool isAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Byte offsets of each character start, plus the end.
std::vector<size_t> charStarts(std::string_view s) {
  std::vector<size_t> at;
  at.reserve(s.size() + 1);
  for (size_t i = 0; i < s.size();) {
    at.push_back(i);
    i += decode(s, i).len;
  }
  at.push_back(s.size());
  return at;
}

}  // namespace

std::string FoldCase(std::string_view s) {
  return transform(s, foldOf);
}
std::string LowerText(std::string_view s) {
  return transform(s, lowerOf);
}
std::string UpperText(std::string_view s) {
  return transform(s, upperOf);
}

int StrComp(std::string_view a, std::string_view b, bool textCompare) {
  int c;
  if (!textCompare) {
    c = a.compare(b);
  } else {
    c = FoldCase(a).compare(FoldCase(b));
  }
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int32_t CharCount(std::string_view s) {
  int32_t n = 0;
  for (size_t i = 0; i < s.size(); i += decode(s, i).len) ++n;
  return n;
}

int32_t InStr(int32_t start, std::string_view text, std::string_view find, bool textCompare) {
  if (start < 1) start = 1;
  // Folding keeps every character a whole character, but may change its
  // byte length; positions are therefore found in the folded text and
  // counted in characters there, which is one to one with the original.
  std::string ft, ff;
  if (textCompare) {
    ft = FoldCase(text);
    ff = FoldCase(find);
    text = ft;
    find = ff;
  }
  if (isAscii(text)) {
    if (static_cast<size_t>(start) > text.size() + 1) return 0;
    size_t p = text.find(find, static_cast<size_t>(start - 1));
    return p == std::string_view::npos ? 0 : static_cast<int32_t>(p + 1);
  }
  std::vector<size_t> at = charStarts(text);
  size_t chars = at.size() - 1;
  if (static_cast<size_t>(start) > chars + 1) return 0;
  size_t from = at[static_cast<size_t>(start - 1)];
  for (size_t p = text.find(find, from); p != std::string_view::npos; p = text.find(find, p + 1)) {
    auto it = std::lower_bound(at.begin(), at.end(), p);
    if (it != at.end() && *it == p) return static_cast<int32_t>(it - at.begin()) + 1;
  }
  return 0;
}

}  // namespace pm
