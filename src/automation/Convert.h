// Conversions with classic Basic semantics. Numbers round half to even on
// conversion to integers; values that do not fit raise error 6; values of the
// wrong kind raise error 13; Null raises error 94 where Basic does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "automation/Variant.h"
#include "automation/Internal.h"

namespace pm {

PM_INTERNAL std::string CStr(const Variant& v);
PM_INTERNAL int32_t CLng(const Variant& v);
PM_INTERNAL int16_t CInt(const Variant& v);
uint8_t CByte(const Variant& v);
PM_INTERNAL double CDbl(const Variant& v);
PM_INTERNAL float CSng(const Variant& v);
Currency CCur(const Variant& v);
Date CDate(const Variant& v);
PM_INTERNAL bool CBool(const Variant& v);
// The Variant form of a Boolean as Basic stores it: True is -1.
inline int16_t BasicBool(bool b) {
  return b ? int16_t(-1) : int16_t(0);
}

// Coerce to the given type (VT::Variant returns the value unchanged).
PM_INTERNAL Variant coerce(const Variant& v, VT to);

// Val(): the leading number of a text (spaces, tabs and line feeds are
// skipped anywhere, &H and &O prefixes read), 0 when there is none.
PM_INTERNAL double Val(std::string_view text);
double Val(const Variant& v);  // the text of v; Null raises 94
inline double Val(const std::string& s) {
  return Val(std::string_view(s));
}
inline double Val(const char* s) {
  return Val(std::string_view(s));
}
bool IsNumeric(const Variant& v);

PM_INTERNAL std::string Trim(std::string_view s);
std::string LTrim(std::string_view s);
std::string RTrim(std::string_view s);
// Every script's letters change case (see TextCompare.h).
PM_INTERNAL std::string UCase(std::string_view s);
PM_INTERNAL std::string LCase(std::string_view s);

// Basic comparison of two Variants: numbers numerically, strings by binary
// (or text: case-insensitive in every script) comparison, a number is less than a string,
// Empty reads as 0 or "". Null in either raises 94. Returns -1, 0 or 1.
int Compare(const Variant& a, const Variant& b, bool textCompare = false);

// Text of a date the way CStr shows it: "M/D/YYYY", "h:mm:ss AM", or both.
std::string DateToText(Date d);
// Date serial of a calendar date and time (proleptic Gregorian).
PM_INTERNAL Date MakeDate(int year, int month, int day, int hour = 0, int minute = 0, double second = 0);
// The text of a Double as Basic prints it (15 significant digits).
PM_INTERNAL std::string DoubleToText(double d);
// The same text written into buf, without a string; returns its end.
PM_INTERNAL char* DoubleToChars(double d, char (&buf)[40]);

// Parse a whole text as a number the way the coercions read strings
// (surrounding spaces, sign, thousands commas, decimal point, exponent,
// &H/&O). Returns false when the text is not a number.
bool ParseNumber(std::string_view text, double& out);

// Round half to even, as CLng and CInt do.
double RoundHalfEven(double d);

}  // namespace pm
