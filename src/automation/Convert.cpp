#include "automation/Convert.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "automation/Dispatch.h"
#include "automation/Error.h"
#include "automation/TextCompare.h"

namespace pm {

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

double currencyToDouble(Currency c) {
  return static_cast<double>(c.scaled) / 10000.0;
}

bool ieq(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// Days from the civil date (Howard Hinnant's algorithm), relative to
// 1899-12-30, the serial origin of automation dates.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
const int64_t kSerialOrigin = daysFromCivil(1899, 12, 30);

void civilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

// Parses "YYYY-MM-DD[ HH:MM[:SS]]" and "M/D/YYYY[ h:mm[:ss][ AM|PM]]" and a
// bare time. Returns false for anything else.
bool parseDate(std::string_view s, Date& out) {
  std::string t = Trim(s);
  int a = 0, b = 0, c = 0, hh = 0, mi = 0, n = 0;
  double ss = 0;
  int year = 1899, month = 12, day = 30;
  const char* p = t.c_str();
  bool haveDate = false;
  if (std::sscanf(p, "%d-%d-%d%n", &a, &b, &c, &n) == 3 && a > 31) {
    year = a;
    month = b;
    day = c;
    haveDate = true;
  } else if (std::sscanf(p, "%d/%d/%d%n", &a, &b, &c, &n) == 3) {
    month = a;
    day = b;
    year = c < 100 ? (c < 30 ? 2000 + c : 1900 + c) : c;
    haveDate = true;
  } else {
    n = 0;
  }
  p += n;
  while (*p == ' ' || *p == 'T') ++p;
  bool haveTime = false;
  if (*p) {
    int m2 = 0;
    if (std::sscanf(p, "%d:%d%n", &hh, &mi, &m2) >= 2) {
      p += m2;
      if (*p == ':') {
        int m3 = 0;
        if (std::sscanf(p + 1, "%lf%n", &ss, &m3) != 1) return false;
        p += 1 + m3;
      }
      while (*p == ' ') ++p;
      if (ieq(std::string_view(p, std::min<size_t>(2, std::strlen(p))), "PM")) {
        if (hh < 12) hh += 12;
        p += 2;
      } else if (ieq(std::string_view(p, std::min<size_t>(2, std::strlen(p))), "AM")) {
        if (hh == 12) hh = 0;
        p += 2;
      }
      haveTime = true;
    }
  }
  while (*p == ' ') ++p;
  if (*p || (!haveDate && !haveTime)) return false;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hh < 0 || hh > 23 || mi < 0 || mi > 59 || ss < 0 || ss >= 60)
    return false;
  out = MakeDate(year, month, day, hh, mi, ss);
  return true;
}

[[noreturn]] void mismatch() {
  raise(basic::TypeMismatch);
}
[[noreturn]] void overflow() {
  raise(basic::Overflow);
}
[[noreturn]] void nullUse() {
  raise(basic::InvalidUseOfNull);
}

// The number a Variant stands for when an integer or floating type is
// wanted. Strings are parsed; Booleans are -1 and 0.
double numberOf(const Variant& v) {
  switch (v.type()) {
    case VT::Empty:
      return 0;
    case VT::Null:
      nullUse();
    case VT::Boolean:
      return v.asBool() ? -1 : 0;
    case VT::Integer:
      return v.asInteger();
    case VT::Long:
      return v.asLong();
    case VT::Single:
      return v.asSingle();
    case VT::Double:
      return v.asDouble();
    case VT::Currency:
      return currencyToDouble(v.asCurrency());
    case VT::Date:
      return v.asDate().serial;
    case VT::Byte:
      return v.asByte();
    case VT::String: {
      double d;
      if (ParseNumber(v.asString(), d)) return d;
      if (ieq(Trim(v.asString()), "True")) return -1;
      if (ieq(Trim(v.asString()), "False")) return 0;
      Date dt;
      if (parseDate(v.asString(), dt)) return dt.serial;
      mismatch();
    }
    default:
      mismatch();
  }
}

}  // namespace

double RoundHalfEven(double d) {
  double r = std::nearbyint(d);  // default rounding mode is to nearest, ties to even
  return r;
}

bool ParseNumber(std::string_view text, double& out) {
  std::string s = Trim(text);
  if (s.empty()) return false;
  size_t i = 0;
  bool neg = false;
  if (s[i] == '+' || s[i] == '-') {
    neg = s[i] == '-';
    ++i;
    while (i < s.size() && isBlank(s[i])) ++i;
  }
  if (i + 1 < s.size() && s[i] == '&' && (s[i + 1] == 'H' || s[i + 1] == 'h' || s[i + 1] == 'O' || s[i + 1] == 'o')) {
    int base = (s[i + 1] == 'H' || s[i + 1] == 'h') ? 16 : 8;
    i += 2;
    if (i >= s.size()) return false;
    uint64_t v = 0;
    for (; i < s.size(); ++i) {
      int dgt;
      char c = static_cast<char>(std::tolower(static_cast<unsigned char>(s[i])));
      if (c >= '0' && c <= '9')
        dgt = c - '0';
      else if (base == 16 && c >= 'a' && c <= 'f')
        dgt = c - 'a' + 10;
      else
        return false;
      if (dgt >= base) return false;
      v = v * base + dgt;
      if (v > 0xFFFFFFFFull) return false;
    }
    // Hex and octal literals are 32-bit: &HFFFFFFFF is -1.
    double d = v > 0x7FFFFFFFull ? static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(v)))
                                 : static_cast<double>(v);
    out = neg ? -d : d;
    return true;
  }
  std::string digits;
  bool any = false, dot = false;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c >= '0' && c <= '9') {
      digits += c;
      any = true;
    } else if (c == ',' && !dot && any)
      continue;  // thousands separator
    else if (c == '.' && !dot) {
      digits += c;
      dot = true;
    } else
      break;
  }
  if (!any) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    size_t j = i + 1;
    std::string ex = "e";
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ex += s[j++];
    bool exDigits = false;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9') {
      ex += s[j++];
      exDigits = true;
    }
    if (!exDigits) return false;
    digits += ex;
    i = j;
  }
  if (i != s.size()) return false;
  double d = std::strtod(digits.c_str(), nullptr);
  if (!std::isfinite(d)) return false;
  out = neg ? -d : d;
  return true;
}

namespace {
// A number of at most four decimals, such as an amount of money, written
// straight from its digits: the shortest text that reads back as d, which
// is what the shortest digits below make of it, at a fraction of the cost.
// Below 2^50 a scaled number lies so close to an integer that the nearest
// integer is the only candidate, and a correctly rounded division of two
// exact numbers tells whether that decimal reads back as d; the fewest
// decimals that do are the shortest text. nullptr when there is none.
char* fewDecimals(double d, double a, char (&buf)[40]) {
  static constexpr double kScale[5] = {1, 10, 100, 1000, 10000};
  static constexpr uint64_t kUnit[5] = {1, 10, 100, 1000, 10000};
  for (int k = 0; k < 5; ++k) {
    double scaled = a * kScale[k];
    if (scaled >= 1e15) return nullptr;
    double m = std::nearbyint(scaled);
    if (m / kScale[k] != a) continue;
    uint64_t n = static_cast<uint64_t>(m);
    char* p = buf;
    if (d < 0) *p++ = '-';
    p = std::to_chars(p, buf + sizeof buf, n / kUnit[k]).ptr;
    if (k == 0) return p;
    *p++ = '.';
    uint64_t frac = n % kUnit[k];
    for (int i = k - 1; i >= 0; --i, frac /= 10) p[i] = static_cast<char>('0' + frac % 10);
    return p + k;
  }
  return nullptr;
}
}  // namespace

char* DoubleToChars(double d, char (&buf)[40]) {
  if (d == 0) {
    buf[0] = '0';
    return buf + 1;
  }
  // The text of printf's %.15G, made without printf: a text export converts
  // hundreds of thousands of numbers.
  double a = std::fabs(d);
  if (a >= 1e-4 && a < 1e15) {
    if (char* end = fewDecimals(d, a, buf)) return end;
    // Where %G writes no exponent, the shortest digits that read back as the
    // same number are its digits whenever there are at most 15 of them (the
    // number then lies closer to them than 15-digit rounding can tell).
    char* end = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed).ptr;
    int digits = 0;
    bool leading = true;
    for (const char* p = buf; p != end; ++p) {
      if (*p < '0' || *p > '9' || (leading && *p == '0')) continue;
      leading = false;
      ++digits;
    }
    if (digits <= 15) return end;
  }
  char* end = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15).ptr;
  // Basic writes exponents as E+15 / E-05 and INF / NAN in capitals.
  for (char* p = buf; p != end; ++p)
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
  return end;
}

std::string DoubleToText(double d) {
  char buf[40];
  return std::string(buf, DoubleToChars(d, buf));
}

namespace {
std::string singleToText(float f) {
  if (f == 0) return "0";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.7G", static_cast<double>(f));
  return buf;
}
std::string currencyToText(Currency c) {
  int64_t v = c.scaled;
  bool neg = v < 0;
  uint64_t u = neg ? static_cast<uint64_t>(-(v + 1)) + 1 : static_cast<uint64_t>(v);
  std::string s = std::to_string(u / 10000);
  uint64_t frac = u % 10000;
  if (frac) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04llu", static_cast<unsigned long long>(frac));
    std::string f = buf;
    while (!f.empty() && f.back() == '0') f.pop_back();
    s += "." + f;
  }
  return neg ? "-" + s : s;
}
}  // namespace

Date MakeDate(int year, int month, int day, int hour, int minute, double second) {
  double days = static_cast<double>(daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
                                    kSerialOrigin);
  double frac = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  // Serials before the origin keep the time as a positive fraction away
  // from zero, as automation dates do.
  return Date{days >= 0 ? days + frac : days - frac};
}

std::string DateToText(Date dt) {
  double serial = dt.serial;
  double whole = std::trunc(serial);
  double frac = std::fabs(serial - whole);
  int64_t secs = static_cast<int64_t>(std::llround(frac * 86400.0));
  if (secs >= 86400) {
    secs -= 86400;
    whole += serial >= 0 ? 1 : -1;
  }
  std::string out;
  if (whole != 0 || secs == 0) {
    int y, m, d;
    civilFromDays(static_cast<int64_t>(whole) + kSerialOrigin, y, m, d);
    out = std::to_string(m) + "/" + std::to_string(d) + "/" + std::to_string(y);
  }
  if (secs != 0) {
    int h = static_cast<int>(secs / 3600), mi = static_cast<int>(secs / 60 % 60), s = static_cast<int>(secs % 60);
    int h12 = h % 12 == 0 ? 12 : h % 12;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d:%02d:%02d %s", h12, mi, s, h < 12 ? "AM" : "PM");
    if (!out.empty()) out += " ";
    out += buf;
  }
  return out;
}

std::string CStr(const Variant& v) {
  switch (v.type()) {
    case VT::Empty:
      return "";
    case VT::Null:
      nullUse();
    case VT::Boolean:
      return v.asBool() ? "True" : "False";
    case VT::Integer:
      return std::to_string(v.asInteger());
    case VT::Long:
      return std::to_string(v.asLong());
    case VT::Byte:
      return std::to_string(v.asByte());
    case VT::Single:
      return singleToText(v.asSingle());
    case VT::Double:
      return DoubleToText(v.asDouble());
    case VT::Currency:
      return currencyToText(v.asCurrency());
    case VT::Date:
      return DateToText(v.asDate());
    case VT::String:
      return v.asString();
    case VT::Error:
      return "Error " + std::to_string(v.asError().scode & 0xFFFF);
    default:
      mismatch();
  }
}

int32_t CLng(const Variant& v) {
  if (v.type() == VT::Long) return v.asLong();
  double r = RoundHalfEven(numberOf(v));
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) overflow();
  return static_cast<int32_t>(r);
}

int16_t CInt(const Variant& v) {
  if (v.type() == VT::Integer) return v.asInteger();
  double r = RoundHalfEven(numberOf(v));
  if (!(r >= -32768.0 && r <= 32767.0)) overflow();
  return static_cast<int16_t>(r);
}

uint8_t CByte(const Variant& v) {
  double r = RoundHalfEven(numberOf(v));
  if (!(r >= 0 && r <= 255)) overflow();
  return static_cast<uint8_t>(r);
}

double CDbl(const Variant& v) {
  return numberOf(v);
}

float CSng(const Variant& v) {
  double d = numberOf(v);
  if (std::fabs(d) > std::numeric_limits<float>::max()) overflow();
  return static_cast<float>(d);
}

Currency CCur(const Variant& v) {
  if (v.type() == VT::Currency) return v.asCurrency();
  double d = numberOf(v) * 10000.0;
  double r = RoundHalfEven(d);
  if (!(r >= -9.2233720368547758e18 && r < 9.2233720368547758e18)) overflow();
  return Currency{static_cast<int64_t>(r)};
}

Date CDate(const Variant& v) {
  switch (v.type()) {
    case VT::Date:
      return v.asDate();
    case VT::String: {
      Date d;
      if (parseDate(v.asString(), d)) return d;
      double n;
      if (ParseNumber(v.asString(), n)) return Date{n};
      mismatch();
    }
    default:
      return Date{numberOf(v)};
  }
}

bool CBool(const Variant& v) {
  switch (v.type()) {
    case VT::Boolean:
      return v.asBool();
    case VT::String: {
      std::string t = Trim(v.asString());
      if (ieq(t, "True")) return true;
      if (ieq(t, "False")) return false;
      double d;
      if (ParseNumber(t, d)) return d != 0;
      mismatch();
    }
    default:
      return numberOf(v) != 0;
  }
}

Variant coerce(const Variant& v, VT to) {
  switch (to) {
    case VT::Variant:
      return v;
    case VT::Empty:
      return Variant();
    case VT::Null:
      return Variant::null();
    case VT::Boolean:
      return Variant(CBool(v));
    case VT::Integer:
      return Variant(CInt(v));
    case VT::Long:
      return Variant(CLng(v));
    case VT::Single:
      return Variant(CSng(v));
    case VT::Double:
      return Variant(CDbl(v));
    case VT::Currency:
      return Variant(CCur(v));
    case VT::Date:
      return Variant(CDate(v));
    case VT::String:
      return Variant(CStr(v));
    case VT::Byte:
      return Variant(CByte(v));
    case VT::Object:
      if (v.isObject()) return v;
      if (v.isEmpty()) return Variant::nothing();
      raise(basic::ObjectRequired);
    case VT::Error:
      if (v.type() == VT::Error) return v;
      return Variant(ErrorCode{CLng(v)});
    default:
      mismatch();
  }
}

double Val(std::string_view text) {
  std::string s;
  s.reserve(text.size());
  for (char c : text)
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') s += c;
  size_t i = 0;
  if (s.size() >= 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o')) {
    int base = (s[1] == 'H' || s[1] == 'h') ? 16 : 8;
    uint64_t v = 0;
    for (i = 2; i < s.size(); ++i) {
      char c = static_cast<char>(std::tolower(static_cast<unsigned char>(s[i])));
      int dgt = (c >= '0' && c <= '9') ? c - '0' : (base == 16 && c >= 'a' && c <= 'f') ? c - 'a' + 10 : 99;
      if (dgt >= base) break;
      v = v * base + dgt;
      if (v > 0xFFFFFFFFull) return 0;
    }
    return v > 0x7FFFFFFFull ? static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(v)))
                             : static_cast<double>(v);
  }
  std::string num;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) num += s[i++];
  bool any = false, dot = false;
  for (; i < s.size(); ++i) {
    if (s[i] >= '0' && s[i] <= '9') {
      num += s[i];
      any = true;
    } else if (s[i] == '.' && !dot) {
      num += '.';
      dot = true;
    } else
      break;
  }
  if (!any) return 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    size_t j = i + 1;
    std::string ex = "e";
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ex += s[j++];
    bool digits = false;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9') {
      ex += s[j++];
      digits = true;
    }
    if (digits) num += ex;
  }
  double d = std::strtod(num.c_str(), nullptr);
  if (!std::isfinite(d)) overflow();
  return d;
}

double Val(const Variant& v) {
  if (v.isNull()) nullUse();
  if (v.isNumeric()) return CDbl(v);
  return Val(std::string_view(CStr(v)));
}

bool IsNumeric(const Variant& v) {
  switch (v.type()) {
    case VT::Empty:
    case VT::Boolean:
    case VT::Integer:
    case VT::Long:
    case VT::Single:
    case VT::Double:
    case VT::Currency:
    case VT::Byte:
      return true;
    case VT::String: {
      double d;
      return ParseNumber(v.asString(), d);
    }
    default:
      return false;
  }
}

std::string LTrim(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return std::string(s.substr(i));
}
std::string RTrim(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && s[n - 1] == ' ') --n;
  return std::string(s.substr(0, n));
}
std::string Trim(std::string_view s) {
  return LTrim(RTrim(s));
}

std::string UCase(std::string_view s) {
  return UpperText(s);
}
std::string LCase(std::string_view s) {
  return LowerText(s);
}

int Compare(const Variant& a, const Variant& b, bool textCompare) {
  if (a.isNull() || b.isNull()) nullUse();
  auto numericLike = [](const Variant& v) { return v.isNumeric() || v.type() == VT::Date; };
  bool aStr = a.isString(), bStr = b.isString();
  if (aStr && bStr) {
    return StrComp(a.asString(), b.asString(), textCompare);
  }
  if ((aStr && b.isEmpty()) || (a.isEmpty() && bStr)) {
    const std::string& s = aStr ? a.asString() : b.asString();
    int c = s.empty() ? 0 : 1;
    return aStr ? c : -c;
  }
  if ((aStr && numericLike(b)) || (numericLike(a) && bStr)) return aStr ? 1 : -1;
  double x = CDbl(a), y = CDbl(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

}  // namespace pm
