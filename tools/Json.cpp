#include "Json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "automation/Convert.h"
#include "automation/Error.h"
#include "automation/Utf8.h"

namespace pm::cli {

namespace {

// Deeper arrays than any argument needs are refused before they take the
// stack (the reader and the values' destructors recurse).
constexpr int kMaxDepth = 256;

[[noreturn]] void tooDeep() {
  raise(basic::InvalidProcedureCall, "JSON nested more than " + std::to_string(kMaxDepth) + " levels deep");
}

struct Parser {
  std::string_view s;
  size_t i = 0;
  int depth = 0;

  void ws() {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
  }
  bool lit(std::string_view w) {
    if (s.substr(i, w.size()) == w) {
      i += w.size();
      return true;
    }
    return false;
  }

  bool hex4(uint32_t& v) {
    if (i + 4 > s.size()) return false;
    v = 0;
    for (int k = 0; k < 4; ++k) {
      char c = s[i++];
      v <<= 4;
      if (c >= '0' && c <= '9')
        v |= c - '0';
      else if (c >= 'a' && c <= 'f')
        v |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        v |= c - 'A' + 10;
      else
        return false;
    }
    return true;
  }

  bool string(std::string& out) {
    if (i >= s.size() || s[i] != '"') return false;
    ++i;
    while (i < s.size()) {
      char c = s[i++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i >= s.size()) return false;
      char e = s[i++];
      switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          uint32_t cp;
          if (!hex4(cp)) return false;
          if (cp >= 0xD800 && cp < 0xDC00) {
            uint32_t lo;
            if (!lit("\\u") || !hex4(lo) || lo < 0xDC00 || lo > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            // A lone low surrogate is no character: the replacement character stands for it.
            cp = 0xFFFD;
          }
          pm::utf8::append(out, cp);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  bool number(Variant& out) {
    size_t start = i;
    if (i < s.size() && s[i] == '-') ++i;
    if (i >= s.size() || !(s[i] >= '0' && s[i] <= '9')) return false;
    if (s[i] == '0')
      ++i;
    else
      while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    bool integral = true;
    if (i < s.size() && s[i] == '.') {
      integral = false;
      ++i;
      if (i >= s.size() || !(s[i] >= '0' && s[i] <= '9')) return false;
      while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
      integral = false;
      ++i;
      if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
      if (i >= s.size() || !(s[i] >= '0' && s[i] <= '9')) return false;
      while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    }
    std::string text(s.substr(start, i - start));
    double d = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(d)) return false;
    if (integral && d >= -2147483648.0 && d <= 2147483647.0)
      out = Variant(static_cast<int32_t>(d));
    else
      out = Variant(d);
    return true;
  }

  bool array(Variant& out) {
    if (s[i] != '[') return false;
    if (++depth > kMaxDepth) tooDeep();
    struct Leave {
      int& d;
      ~Leave() { --d; }
    } leave{depth};
    ++i;
    std::vector<Variant> items;
    ws();
    if (i < s.size() && s[i] == ']') {
      ++i;
      out = Variant(Array::vector({}));
      return true;
    }
    for (;;) {
      Variant v;
      if (!value(v)) return false;
      items.push_back(std::move(v));
      ws();
      if (i < s.size() && s[i] == ',') {
        ++i;
        continue;
      }
      if (i < s.size() && s[i] == ']') {
        ++i;
        break;
      }
      return false;
    }
    // Equal-length rows that are themselves plain arrays make a matrix.
    bool matrix = !items.empty();
    size_t cols = 0;
    for (size_t r = 0; r < items.size() && matrix; ++r) {
      if (!items[r].isArray() || items[r].array().dims() != 1) {
        matrix = false;
        break;
      }
      size_t n = items[r].array().size();
      if (r == 0) cols = n;
      if (n != cols || n == 0) matrix = false;
      for (const Variant& x : items[r].array().data())
        if (x.isArray()) matrix = false;
    }
    if (!matrix) {
      out = Variant(Array::vector(std::move(items)));
      return true;
    }
    Array m = Array::matrix(static_cast<int32_t>(items.size()), static_cast<int32_t>(cols));
    for (size_t r = 0; r < items.size(); ++r)
      for (size_t c = 0; c < cols; ++c)
        m.set({static_cast<int32_t>(r), static_cast<int32_t>(c)}, items[r].array().data()[c]);
    out = Variant(std::move(m));
    return true;
  }

  bool value(Variant& out) {
    ws();
    if (i >= s.size()) return false;
    char c = s[i];
    if (c == '"') {
      std::string str;
      if (!string(str)) return false;
      out = Variant(std::move(str));
      return true;
    }
    if (c == '[') return array(out);
    if (lit("true")) {
      out = Variant(true);
      return true;
    }
    if (lit("false")) {
      out = Variant(false);
      return true;
    }
    if (lit("null")) {
      out = Variant::null();
      return true;
    }
    return number(out);
  }
};

}  // namespace

std::optional<Variant> parseJson(std::string_view text) {
  Parser p{text};
  Variant v;
  if (!p.value(v)) return std::nullopt;
  p.ws();
  if (p.i != text.size()) return std::nullopt;
  return v;
}

size_t jsonValueLength(std::string_view text) {
  Parser p{text};
  Variant v;
  if (text.empty() || (text[0] != '"' && text[0] != '[')) return 0;
  if (!p.value(v)) return 0;
  return p.i;
}

std::string jsonQuote(std::string_view s) {
  std::string r = "\"";
  for (size_t i = 0; i < s.size();) {
    // Bytes that are not UTF-8 print as the replacement character, so the
    // output is always valid JSON text.
    utf8::Unit u = utf8::decode(s, i);
    if (!u.valid) {
      r += "\uFFFD";
      i += u.len;
      continue;
    }
    if (u.len > 1) {
      r.append(s.substr(i, u.len));
      i += u.len;
      continue;
    }
    unsigned char c = static_cast<unsigned char>(s[i++]);
    switch (c) {
      case '"':
        r += "\\\"";
        break;
      case '\\':
        r += "\\\\";
        break;
      case '\n':
        r += "\\n";
        break;
      case '\r':
        r += "\\r";
        break;
      case '\t':
        r += "\\t";
        break;
      case '\b':
        r += "\\b";
        break;
      case '\f':
        r += "\\f";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          r += buf;
        } else {
          r += static_cast<char>(c);
        }
    }
  }
  return r + "\"";
}

namespace {

std::string number(double d) {
  if (d == std::trunc(d) && std::fabs(d) < 1e15) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", d);
    return buf;
  }
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", d);
  // The shortest text that reads back as the same number.
  for (int prec = 1; prec <= 17; ++prec) {
    char t[40];
    std::snprintf(t, sizeof t, "%.*g", prec, d);
    if (std::strtod(t, nullptr) == d) return t;
  }
  return buf;
}

void arrayJson(const Array& a, int dim, std::vector<int32_t>& index, std::string& out,
               const std::function<std::string(const ObjectRef&)>& object) {
  out += "[";
  const Bound& b = a.bounds()[dim];
  for (int32_t k = 0; k < b.count; ++k) {
    if (k) out += ",";
    index[dim] = b.lower + k;
    if (dim + 1 == a.dims())
      out += toJson(a.at(index.data(), index.size()), object);
    else
      arrayJson(a, dim + 1, index, out, object);
  }
  out += "]";
}

}  // namespace

std::string toJson(const Variant& v, const std::function<std::string(const ObjectRef&)>& object) {
  switch (v.type()) {
    case VT::Empty:
    case VT::Null:
    case VT::Error:
      return "null";
    case VT::Boolean:
      return v.asBool() ? "true" : "false";
    case VT::Integer:
      return std::to_string(v.asInteger());
    case VT::Long:
      return std::to_string(v.asLong());
    case VT::Byte:
      return std::to_string(v.asByte());
    case VT::Single: {
      // The shortest text that reads back as the same Single, so 0.1! prints 0.1.
      float f = v.asSingle();
      for (int prec = 1; prec <= 9; ++prec) {
        char t[32];
        std::snprintf(t, sizeof t, "%.*g", prec, static_cast<double>(f));
        if (std::strtof(t, nullptr) == f) return t;
      }
      return number(static_cast<double>(f));
    }
    case VT::Double:
      return number(v.asDouble());
    case VT::Currency:
      return CStr(v);
    case VT::Date:
      return jsonQuote(CStr(v));
    case VT::String:
      return jsonQuote(v.asString());
    case VT::Object:
      return v.asObject() ? object(v.asObject()) : "null";
    default: {
      const Array& a = v.array();
      if (a.dims() == 0) return "[]";
      thread_local int depth = 0;
      if (depth >= kMaxDepth) tooDeep();
      struct Leave {
        int& d;
        ~Leave() { --d; }
      } leave{++depth};
      std::vector<int32_t> index(static_cast<size_t>(a.dims()));
      std::string out;
      arrayJson(a, 0, index, out, object);
      return out;
    }
  }
}

}  // namespace pm::cli
