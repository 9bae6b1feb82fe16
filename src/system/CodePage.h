// "The system code page" of the 8-bit text files the component reads and
// writes. Internal strings are UTF-8; these helpers convert at the file
// boundary.
//
// The code page is the character set of the process's locale environment
// (LC_ALL, LC_CTYPE, LANG) as nl_langinfo(CODESET) names it, unless
// PRESSMARK_CODEPAGE names another one (any name iconv knows, for example
// windows-1252). It is determined once, without touching the process's
// global locale. The plain C/POSIX locale's ASCII is taken as UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "automation/Internal.h"

namespace pm {

// The code page's name, for example "UTF-8" or "windows-1252".
PM_INTERNAL const std::string& codePageName();

// UTF-8 to the code page. Characters the code page cannot hold, and bytes
// that are not valid UTF-8, become "?". Raises error 5 when iconv does not
// know the code page.
std::string toCodePage(std::string_view utf8);
// Code page to UTF-8. Each byte that is invalid in the code page becomes
// U+FFFD, so nothing is dropped silently and the length of the damage
// stays visible. Raises error 5 when iconv does not know the code page.
PM_INTERNAL std::string fromCodePage(std::string_view bytes);

// The same conversions for a named code page.
std::string toCodePage(std::string_view utf8, const std::string& codePage);
std::string fromCodePage(std::string_view bytes, const std::string& codePage);

// Determines the code page afresh from the current environment, without
// the caching of codePageName() (for tests of the detection itself).
std::string detectCodePageForTesting();

}  // namespace pm
