// Text comparison with Basic's "text compare" meaning, over UTF-8 text:
// letters of every script compare without regard to case ("Введение" equals
// "введение", "ÉTÉ" equals "été"). Case is mapped code point by code point
// (the one-to-one mappings of the Unicode character database), so the
// comparison needs no locale and gives the same answer in a daemon with no
// LANG as in a user's shell. Bytes that are not valid UTF-8 compare as
// themselves.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pm {

// The case-folded form used by every text comparison.
std::string FoldCase(std::string_view s);

// Unicode-aware LCase and UCase (Convert.h's LCase and UCase use these).
std::string LowerText(std::string_view s);
std::string UpperText(std::string_view s);

// StrComp: -1, 0 or 1; textCompare ignores case, otherwise bytes compare.
int StrComp(std::string_view a, std::string_view b, bool textCompare);
inline bool TextEquals(std::string_view a, std::string_view b) {
  return StrComp(a, b, true) == 0;
}

// InStr: the 1-based character position of the first occurrence of find in
// text at or after character start (1-based), 0 when there is none. An empty
// find answers start (when start is within text, or one past its end).
// Positions count characters (code points), not bytes.
int32_t InStr(int32_t start, std::string_view text, std::string_view find, bool textCompare);
inline int32_t InStr(std::string_view text, std::string_view find, bool textCompare = false) {
  return InStr(1, text, find, textCompare);
}

// Number of characters (code points) of a UTF-8 text.
int32_t CharCount(std::string_view s);

}  // namespace pm
