// Reading hive files: the Windows registry export format, REGEDIT4 or
// version 5.00, in UTF-8 or UTF-16LE.
#include <cstdint>
#include <string>

#include "automation/Utf8.h"
#include "system/RegistryInternal.h"

namespace pm::registry {

using namespace detail;

namespace {

constexpr size_t kMaxKeyBytes = size_t{64} << 20;
constexpr const char* kTooMuch = "the key paths of this file take more than 64 MiB; keys nest too deeply";

// UTF-16LE to UTF-8; unpaired surrogates become U+FFFD. Length must be even.
std::string utf16leToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  auto unit = [&](size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) |
           (static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
  };
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    uint32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
      uint32_t lo = unit(i + 2);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        utf8::append(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        i += 2;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
    utf8::append(out, u);
  }
  return out;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool startsWithFolded(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && equalsFolded(s.substr(0, prefix.size()), prefix);
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = lowerAscii(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

class Parser {
 public:
  Parser(std::string_view text, const std::string& root, const std::string& file) : root_(root), file_(file) {
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      std::string_view line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      lines_.push_back(line);
      start = end + 1;
    }
  }

  Hive run() {
    Hive hive;
    hive.rootName = root_;
    size_t i = 0;
    while (i < lines_.size() && trim(lines_[i]).empty()) ++i;
    if (i == lines_.size()) return hive;  // an empty file is an empty hive
    std::string_view header = trim(lines_[i]);
    if (header == "REGEDIT4")
      unicodeData_ = false;
    else if (header == "Windows Registry Editor Version 5.00")
      unicodeData_ = true;
    else
      error(i, "not a registry file: the first line must be REGEDIT4 or Windows Registry Editor Version 5.00");
    ++i;
    Key* current = nullptr;
    for (; i < lines_.size(); ++i) {
      std::string_view line = trim(lines_[i]);
      if (line.empty() || line.front() == ';') continue;
      if (line.front() == '[') {
        current = keyLine(hive, i, line);
        continue;
      }
      if (line.front() != '@' && line.front() != '"')
        error(i, "unexpected text; expected [key], \"name\"=value or @=value");
      if (!current) error(i, "value outside a key (deleted or not yet opened with [key])");
      size_t first = i;
      valueLine(*current, first, i, line);
    }
    return hive;
  }

 private:
  [[noreturn]] void error(size_t index, const std::string& reason) {
    throw FormatError(file_, static_cast<int>(index + 1), reason);
  }

  Key* keyLine(Hive& hive, size_t i, std::string_view line) {
    if (line.back() != ']') error(i, "key line without closing ]");
    std::string_view body = line.substr(1, line.size() - 2);
    bool remove = !body.empty() && body.front() == '-';
    if (remove) body.remove_prefix(1);
    size_t sep = body.find('\\');
    std::string_view rootPart = body.substr(0, sep);
    std::string_view rest = sep == std::string_view::npos ? std::string_view() : body.substr(sep + 1);
    std::string path;
    if (equalsFolded(rootPart, root_)) {
      path = canonicalPath(rest);
    } else if (root_ == kLocalMachine && equalsFolded(rootPart, kClassesRoot)) {
      path = joinPaths(kClassesPrefix, rest);
    } else {
      error(i, "key \"" + std::string(rootPart) + "\" does not belong in a file of " + root_);
    }
    if (remove) {
      hive.deleteKey(path);
      return nullptr;
    }
    // Every key keeps its whole path, so a deep line costs its depth times
    // its length: depth is bounded as Windows bounds it, and the total.
    size_t depth = splitPath(path).size();
    if (depth > kMaxKeyDepth) error(i, "key nested more than " + std::to_string(kMaxKeyDepth) + " levels deep");
    // At most every level is new: a line that could not fit is refused before any work.
    if (keyBytes_ + depth * path.size() > kMaxKeyBytes) error(i, kTooMuch);
    size_t before = hive.keys.size();
    Key& k = hive.createKey(path);
    keyBytes_ += (hive.keys.size() - before) * path.size();
    if (keyBytes_ > kMaxKeyBytes) error(i, kTooMuch);
    return &k;
  }

  // A quoted text starting at s[0] == '"'; returns the unescaped text and
  // leaves s after the closing quote.
  std::string quoted(size_t i, std::string_view& s) {
    std::string out;
    size_t k = 1;
    for (;;) {
      if (k >= s.size()) error(i, "text without closing \"");
      char c = s[k];
      if (c == '"') break;
      if (c == '\\') {
        if (k + 1 >= s.size()) error(i, "text without closing \"");
        char e = s[k + 1];
        if (e != '\\' && e != '"') error(i, std::string("unknown escape \\") + e + " (only \\\\ and \\\" are allowed)");
        out += e;
        k += 2;
        continue;
      }
      out += c;
      ++k;
    }
    s.remove_prefix(k + 1);
    return out;
  }

  void valueLine(Key& key, size_t first, size_t& i, std::string_view line) {
    std::string name;
    std::string_view s = line;
    if (s.front() == '@') {
      s.remove_prefix(1);
    } else {
      name = quoted(i, s);
    }
    s = trim(s);
    if (s.empty() || s.front() != '=') error(i, "expected = after the value name");
    s = trim(s.substr(1));
    if (s == "-") {
      auto it = std::remove_if(key.values.begin(), key.values.end(),
                               [&](const Value& v) { return equalsFolded(v.name, name); });
      key.values.erase(it, key.values.end());
      return;
    }
    Value value;
    value.name = name;
    if (!s.empty() && s.front() == '"') {
      std::string text = quoted(i, s);
      if (!trim(s).empty()) error(i, "unexpected text after the closing \"");
      value.type = 1;
      value.data = text + '\0';
    } else if (startsWithFolded(s, "dword:")) {
      std::string_view digits = trim(s.substr(6));
      if (digits.empty() || digits.size() > 8) error(i, "dword: needs 1 to 8 hexadecimal digits");
      uint32_t n = 0;
      for (char c : digits) {
        int d = hexDigit(c);
        if (d < 0) error(i, "dword: needs 1 to 8 hexadecimal digits");
        n = (n << 4) | static_cast<uint32_t>(d);
      }
      value.type = 4;
      for (int b = 0; b < 4; ++b) value.data += static_cast<char>((n >> (8 * b)) & 0xFF);
    } else if (startsWithFolded(s, "hex")) {
      s.remove_prefix(3);
      uint32_t type = 3;
      if (!s.empty() && s.front() == '(') {
        size_t close = s.find(')');
        std::string_view digits = close == std::string_view::npos ? std::string_view() : s.substr(1, close - 1);
        if (digits.empty() || digits.size() > 8) error(i, "hex(type) needs a hexadecimal type number");
        type = 0;
        for (char c : digits) {
          int d = hexDigit(c);
          if (d < 0) error(i, "hex(type) needs a hexadecimal type number");
          type = (type << 4) | static_cast<uint32_t>(d);
        }
        s.remove_prefix(close + 1);
      }
      if (s.empty() || s.front() != ':') error(i, "expected : after hex");
      s.remove_prefix(1);
      // Long data continues on following lines after a trailing "\".
      std::string joined(s);
      for (;;) {
        std::string_view t = trim(joined);
        if (t.empty() || t.back() != '\\') break;
        joined.assign(t.substr(0, t.size() - 1));
        if (i + 1 >= lines_.size()) error(i, "data continued with \\ at the end of the file");
        ++i;
        joined += trim(lines_[i]);
      }
      value.type = type;
      value.data = hexBytes(first, joined);
      if (unicodeData_ && (type == 1 || type == 2 || type == 7)) {
        if (value.data.size() % 2 != 0) error(first, "UTF-16 text data of odd length");
        value.data = utf16leToUtf8(value.data);
      }
    } else {
      error(i, "unrecognised value data; expected \"text\", dword:, hex: or hex(type):");
    }
    if (Value* existing = key.find(name))
      *existing = std::move(value);
    else
      key.values.push_back(std::move(value));
  }

  std::string hexBytes(size_t i, std::string_view s) {
    std::string out;
    s = trim(s);
    if (s.empty()) return out;
    size_t start = 0;
    for (;;) {
      size_t comma = s.find(',', start);
      std::string_view item = trim(s.substr(start, comma == std::string_view::npos ? s.npos : comma - start));
      bool last = comma == std::string_view::npos;
      if (item.empty() && last && !out.empty()) break;  // a trailing comma
      if (item.empty() || item.size() > 2) error(i, "bad byte \"" + std::string(item) + "\" in hex data");
      int v = 0;
      for (char c : item) {
        int d = hexDigit(c);
        if (d < 0) error(i, "bad byte \"" + std::string(item) + "\" in hex data");
        v = v * 16 + d;
      }
      out += static_cast<char>(v);
      if (last) break;
      start = comma + 1;
    }
    return out;
  }

  std::string root_;
  std::string file_;
  std::vector<std::string_view> lines_;
  bool unicodeData_ = false;
  size_t keyBytes_ = 0;
};

}  // namespace

Hive parseHive(std::string_view contents, const std::string& rootName, const std::string& fileName) {
  std::string decoded;
  if (contents.size() >= 2 && static_cast<unsigned char>(contents[0]) == 0xFF &&
      static_cast<unsigned char>(contents[1]) == 0xFE) {
    std::string_view body = contents.substr(2);
    if (body.size() % 2 != 0) throw FormatError(fileName, 1, "UTF-16 file of odd length");
    decoded = utf16leToUtf8(body);
    contents = decoded;
  } else if (contents.size() >= 3 && contents.substr(0, 3) == "\xEF\xBB\xBF") {
    contents.remove_prefix(3);
  }
  return Parser(contents, rootName, fileName).run();
}

}  // namespace pm::registry
