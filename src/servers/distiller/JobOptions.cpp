#include "servers/distiller/JobOptions.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "automation/surfaces/Distiller.h"

namespace pm::distiller {

namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\0';
}
bool isDelimiter(char c) {
  return std::strchr("()<>[]{}/%", c) != nullptr && c != '\0';
}
bool isRegular(char c) {
  return !isSpace(c) && !isDelimiter(c);
}

bool isNumber(std::string_view w) {
  if (w.empty()) return false;
  // Radix numbers: base#digits.
  if (size_t hash = w.find('#'); hash != std::string_view::npos) {
    if (hash == 0 || hash + 1 == w.size()) return false;
    for (size_t i = 0; i < hash; ++i)
      if (!std::isdigit(static_cast<unsigned char>(w[i]))) return false;
    for (size_t i = hash + 1; i < w.size(); ++i)
      if (!std::isalnum(static_cast<unsigned char>(w[i]))) return false;
    return true;
  }
  size_t i = 0;
  if (w[i] == '+' || w[i] == '-') ++i;
  bool digits = false;
  while (i < w.size() && std::isdigit(static_cast<unsigned char>(w[i]))) ++i, digits = true;
  if (i < w.size() && w[i] == '.') {
    ++i;
    while (i < w.size() && std::isdigit(static_cast<unsigned char>(w[i]))) ++i, digits = true;
  }
  if (!digits) return false;
  if (i < w.size() && (w[i] == 'e' || w[i] == 'E')) {
    ++i;
    if (i < w.size() && (w[i] == '+' || w[i] == '-')) ++i;
    bool exp = false;
    while (i < w.size() && std::isdigit(static_cast<unsigned char>(w[i]))) ++i, exp = true;
    if (!exp) return false;
  }
  return i == w.size();
}

bool isSecurityKey(std::string_view k) {
  return k == kOwnerPasswordKey || k == kUserPasswordKey || k == kPermissionsKey;
}
// Encryption settings that only the security path chooses.
bool isReservedKey(std::string_view k) {
  return k == "EncryptionR" || k == "KeyLength";
}

enum class Tok {
  End,
  Name,
  Word,
  Number,
  String,
  HexString,
  DictOpen,
  DictClose,
  ArrayOpen,
  ArrayClose,
  ProcOpen,
  ProcClose
};

struct Token {
  Tok kind = Tok::End;
  size_t begin = 0, end = 0;  // source span
  std::string text;           // name without "/", decoded string, word
};

class Lexer {
 public:
  explicit Lexer(std::string_view s) : s_(s) {}

  Token next() {
    skip();
    Token t;
    t.begin = p_;
    if (p_ >= s_.size()) return t;
    char c = s_[p_];
    if (c == '(') {
      t.kind = Tok::String;
      t.text = string();
    } else if (c == '<') {
      if (p_ + 1 < s_.size() && s_[p_ + 1] == '<') {
        p_ += 2;
        t.kind = Tok::DictOpen;
      } else if (p_ + 1 < s_.size() && s_[p_ + 1] == '~') {
        fail("ASCII85 strings are not supported");
      } else {
        t.kind = Tok::HexString;
        t.text = hex();
      }
    } else if (c == '>') {
      if (p_ + 1 < s_.size() && s_[p_ + 1] == '>') {
        p_ += 2;
        t.kind = Tok::DictClose;
      } else {
        fail("unexpected '>'");
      }
    } else if (c == '[' || c == ']' || c == '{' || c == '}') {
      ++p_;
      t.kind = c == '[' ? Tok::ArrayOpen : c == ']' ? Tok::ArrayClose : c == '{' ? Tok::ProcOpen : Tok::ProcClose;
    } else if (c == ')') {
      fail("unbalanced ')'");
    } else if (c == '/') {
      ++p_;
      if (p_ < s_.size() && s_[p_] == '/') fail("immediately evaluated names (//) are not allowed");
      t.kind = Tok::Name;
      t.text = word();
    } else {
      t.kind = Tok::Word;
      t.text = word();
      if (isNumber(t.text)) t.kind = Tok::Number;
    }
    t.end = p_;
    return t;
  }

  [[noreturn]] void fail(const std::string& what) const { failAt(p_, what); }
  [[noreturn]] void failAt(size_t at, const std::string& what) const {
    size_t line = 1;
    for (size_t i = 0; i < at && i < s_.size(); ++i)
      if (s_[i] == '\n') ++line;
    throw JobOptionsError("line " + std::to_string(line) + ": " + what);
  }
  std::string_view source() const { return s_; }

 private:
  void skip() {
    while (p_ < s_.size()) {
      if (isSpace(s_[p_])) {
        ++p_;
      } else if (s_[p_] == '%') {
        while (p_ < s_.size() && s_[p_] != '\n' && s_[p_] != '\r') ++p_;
      } else {
        break;
      }
    }
  }

  std::string word() {
    size_t b = p_;
    while (p_ < s_.size() && isRegular(s_[p_])) ++p_;
    return std::string(s_.substr(b, p_ - b));
  }

  std::string string() {
    size_t start = p_++;
    std::string out;
    int depth = 1;
    while (p_ < s_.size()) {
      char c = s_[p_++];
      if (c == '\\') {
        if (p_ >= s_.size()) break;
        char e = s_[p_++];
        switch (e) {
          case 'n':
            out += '\n';
            break;
          case 'r':
            out += '\r';
            break;
          case 't':
            out += '\t';
            break;
          case 'b':
            out += '\b';
            break;
          case 'f':
            out += '\f';
            break;
          case '\r':
            if (p_ < s_.size() && s_[p_] == '\n') ++p_;
            break;
          case '\n':
            break;
          default:
            if (e >= '0' && e <= '7') {
              int v = e - '0';
              for (int k = 0; k < 2 && p_ < s_.size() && s_[p_] >= '0' && s_[p_] <= '7'; ++k)
                v = v * 8 + (s_[p_++] - '0');
              out += static_cast<char>(v & 0xFF);
            } else {
              out += e;  // \\ \( \) and any other character stand for themselves
            }
        }
      } else if (c == '(') {
        ++depth;
        out += c;
      } else if (c == ')') {
        if (--depth == 0) return out;
        out += c;
      } else {
        out += c;
      }
    }
    failAt(start, "unterminated string");
  }

  std::string hex() {
    size_t start = p_++;
    std::string digits;
    while (p_ < s_.size() && s_[p_] != '>') {
      char c = s_[p_++];
      if (isSpace(c)) continue;
      if (!std::isxdigit(static_cast<unsigned char>(c))) failAt(start, "bad hexadecimal string");
      digits += c;
    }
    if (p_ >= s_.size()) failAt(start, "unterminated hexadecimal string");
    ++p_;
    if (digits.size() % 2) digits += '0';
    std::string out;
    for (size_t i = 0; i < digits.size(); i += 2) out += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    return out;
  }

  std::string_view s_;
  size_t p_ = 0;
};

struct Value {
  Token first;
  size_t end = 0;  // end of the whole value in the source
};

Value parseValue(Lexer& lx, Token t, int depth = 0) {
  if (depth > 32) lx.failAt(t.begin, "values nested too deeply");
  switch (t.kind) {
    case Tok::Number:
    case Tok::Name:
    case Tok::String:
    case Tok::HexString:
      return Value{t, t.end};
    case Tok::Word:
      if (t.text == "true" || t.text == "false" || t.text == "null") return Value{t, t.end};
      lx.failAt(t.begin, "unexpected '" + t.text + "' (only data is allowed in job options)");
    case Tok::ArrayOpen:
      for (;;) {
        Token n = lx.next();
        if (n.kind == Tok::ArrayClose) return Value{t, n.end};
        if (n.kind == Tok::End) lx.failAt(t.begin, "unterminated array");
        parseValue(lx, n, depth + 1);
      }
    case Tok::DictOpen:
      for (;;) {
        Token k = lx.next();
        if (k.kind == Tok::DictClose) return Value{t, k.end};
        if (k.kind == Tok::End) lx.failAt(t.begin, "unterminated dictionary");
        if (k.kind != Tok::Name) lx.failAt(k.begin, "a dictionary key must be a /Name");
        Token v = lx.next();
        if (v.kind == Tok::DictClose || v.kind == Tok::End) lx.failAt(k.begin, "key /" + k.text + " has no value");
        parseValue(lx, v, depth + 1);
      }
    case Tok::ProcOpen:
    case Tok::ProcClose:
      lx.failAt(t.begin, "procedures are not allowed in job options");
    case Tok::End:
      lx.failAt(t.begin, "a value is missing");
    default:
      lx.failAt(t.begin, "unexpected '" + std::string(lx.source().substr(t.begin, t.end - t.begin)) + "'");
  }
}

std::string textOf(const Lexer& lx, const Value& v, const std::string& key) {
  if (v.first.kind == Tok::String || v.first.kind == Tok::HexString || v.first.kind == Tok::Name) return v.first.text;
  lx.failAt(v.first.begin, "/" + key + " must be a string");
}

int32_t permissionsFrom(std::string_view text, const std::string& where) {
  std::string t(text);
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(t.c_str(), &end, 10);
  if (t.empty() || errno || *end || v < INT32_MIN || v > static_cast<long long>(UINT32_MAX))
    throw JobOptionsError(where + "Permissions must be a whole number (the PDF permission bits)");
  return static_cast<int32_t>(static_cast<uint32_t>(v & 0xFFFFFFFF));
}

// The security keys go to the options, the rest into the statement.
void takeSecurity(JobOptions& o, const std::string& key, const std::string& text, bool isPermissionsText) {
  if (key == kOwnerPasswordKey)
    o.ownerPassword = text;
  else if (key == kUserPasswordKey)
    o.userPassword = text;
  else if (key == kPermissionsKey)
    o.permissions = isPermissionsText ? permissionsFrom(text, "") : 0;
}

JobOptions parsePostScript(std::string_view text) {
  JobOptions o;
  Lexer lx(text);
  for (;;) {
    Token t = lx.next();
    if (t.kind == Tok::End) break;
    if (t.kind != Tok::DictOpen) lx.failAt(t.begin, "expected << ... >> setdistillerparams");
    std::string body;
    size_t dictEnd = 0;
    for (;;) {
      Token k = lx.next();
      if (k.kind == Tok::DictClose) {
        dictEnd = k.begin;
        break;
      }
      if (k.kind == Tok::End) lx.failAt(t.begin, "unterminated dictionary");
      if (k.kind != Tok::Name) lx.failAt(k.begin, "a dictionary key must be a /Name");
      Token vt = lx.next();
      if (vt.kind == Tok::DictClose || vt.kind == Tok::End) lx.failAt(k.begin, "key /" + k.text + " has no value");
      Value v = parseValue(lx, vt);
      if (isSecurityKey(k.text)) {
        if (k.text == kPermissionsKey) {
          if (v.first.kind != Tok::Number) lx.failAt(v.first.begin, "/Permissions must be a whole number");
          try {
            o.permissions = permissionsFrom(v.first.text, "");
          } catch (const JobOptionsError& e) {
            lx.failAt(v.first.begin, std::string("/") + e.what());
          }
        } else {
          takeSecurity(o, k.text, textOf(lx, v, k.text), false);
        }
        continue;
      }
      if (isReservedKey(k.text)) continue;
      body += " /" + k.text + " " + std::string(text.substr(v.first.begin, v.end - v.first.begin));
    }
    Token op = lx.next();
    if (op.kind != Tok::Word || (op.text != "setdistillerparams" && op.text != "setpagedevice"))
      lx.failAt(op.kind == Tok::End ? dictEnd : op.begin,
                "expected setdistillerparams or setpagedevice after the dictionary");
    o.postscript += "<<" + body + " >> " + op.text + "\n";
  }
  return o;
}

std::string trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && isSpace(s[b])) ++b;
  while (e > b && isSpace(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

bool isKeyName(std::string_view k) {
  if (k.empty()) return false;
  for (char c : k)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '.' && c != '-') return false;
  return true;
}

// "text" with \" and \\ escapes.
bool unquote(std::string_view v, std::string& out) {
  if (v.size() < 2 || v.front() != '"' || v.back() != '"') return false;
  out.clear();
  for (size_t i = 1; i + 1 < v.size(); ++i) {
    if (v[i] == '\\' && i + 2 < v.size() && (v[i + 1] == '"' || v[i + 1] == '\\'))
      ++i;
    else if (v[i] == '"')
      return false;
    out += v[i];
  }
  return true;
}

JobOptions parseKeyValue(std::string_view text) {
  JobOptions o;
  std::string dict;
  size_t lineNo = 0;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t nl = text.find('\n', pos);
    std::string_view raw = text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? text.size() + 1 : nl + 1;
    ++lineNo;
    std::string line = trim(raw);
    if (line.empty() || line[0] == '#' || line[0] == '%') continue;
    std::string where = "line " + std::to_string(lineNo) + ": ";
    size_t eq = line.find('=');
    if (eq == std::string::npos) throw JobOptionsError(where + "expected Key = value");
    std::string key = trim(std::string_view(line).substr(0, eq));
    std::string value = trim(std::string_view(line).substr(eq + 1));
    if (!key.empty() && key[0] == '/') key.erase(0, 1);
    if (!isKeyName(key)) throw JobOptionsError(where + "'" + key + "' is not a key name");
    if (value.empty()) throw JobOptionsError(where + "key " + key + " has no value");

    if (isSecurityKey(key)) {
      std::string t;
      if (key == kPermissionsKey) {
        o.permissions = permissionsFrom(value, where);
        continue;
      }
      if (unquote(value, t)) {
      } else if (value[0] == '(') {
        Lexer lx(value);
        Token s = lx.next();
        if (s.kind != Tok::String || lx.next().kind != Tok::End) throw JobOptionsError(where + "bad string for " + key);
        t = s.text;
      } else {
        t = value;
      }
      takeSecurity(o, key, t, false);
      continue;
    }
    if (isReservedKey(key)) continue;

    std::string ps;
    std::string unq;
    if (unquote(value, unq)) {
      ps = psString(unq);
    } else if (isNumber(value) || value == "true" || value == "false" || value == "null") {
      ps = value;
    } else if (isKeyName(value)) {
      ps = "/" + value;
    } else {
      Lexer lx(value);
      Token t = lx.next();
      try {
        Value v = parseValue(lx, t);
        if (lx.next().kind != Tok::End) throw JobOptionsError("more than one value");
        (void)v;
      } catch (const JobOptionsError& e) {
        std::string m = e.what();
        if (m.rfind("line 1: ", 0) == 0) m.erase(0, 8);
        throw JobOptionsError(where + "bad value for " + key + ": " + m);
      }
      ps = value;
    }
    dict += " /" + key + " " + ps;
  }
  if (!dict.empty()) o.postscript = "<<" + dict + " >> setdistillerparams\n";
  return o;
}

}  // namespace

std::string psString(std::string_view s) {
  std::string out = "(";
  for (unsigned char c : s) {
    if (c == '(' || c == ')' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char buf[5];
      std::snprintf(buf, sizeof buf, "\\%03o", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + ")";
}

bool decodePsString(std::string_view text, std::string& out) {
  try {
    Lexer lx(text);
    Token t = lx.next();
    if (t.kind != Tok::String || lx.next().kind != Tok::End) return false;
    out = std::move(t.text);
    return true;
  } catch (const JobOptionsError&) {
    return false;
  }
}

JobOptions parseJobOptions(std::string_view text) {
  // The form shows in the first thing that is not a comment.
  Lexer probe(text);
  Token first;
  try {
    first = probe.next();
  } catch (const JobOptionsError&) {
    return parseKeyValue(text);
  }
  if (first.kind == Tok::DictOpen) return parsePostScript(text);
  return parseKeyValue(text);
}

JobOptions readJobOptions(const std::string& path) {
  if (path.empty()) return {};
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec))
    throw JobOptionsError("Job options file " + path + " does not exist");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw JobOptionsError("Job options file " + path + " cannot be read: " + std::strerror(errno));
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) throw JobOptionsError("Job options file " + path + " cannot be read");
  try {
    return parseJobOptions(ss.str());
  } catch (const JobOptionsError& e) {
    throw JobOptionsError("Job options file " + path + " is not valid: " + e.what());
  }
}

}  // namespace pm::distiller
