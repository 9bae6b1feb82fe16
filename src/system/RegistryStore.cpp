#include "system/RegistryStore.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>

#include "automation/Utf8.h"
#include "system/AtomicFile.h"

// Root handle values, as the Windows headers define them (kept here so the
// store does not depend on the automation-facing clsRegistry header).
namespace {
constexpr int32_t kHKCR = static_cast<int32_t>(0x80000000u);
constexpr int32_t kHKCU = static_cast<int32_t>(0x80000001u);
constexpr int32_t kHKLM = static_cast<int32_t>(0x80000002u);
constexpr const char* kLocalMachine = "HKEY_LOCAL_MACHINE";
constexpr const char* kCurrentUser = "HKEY_CURRENT_USER";
constexpr const char* kClassesRoot = "HKEY_CLASSES_ROOT";
constexpr const char* kClassesPrefix = "SOFTWARE\\Classes";
constexpr const char* kDefaultSystemHive = "/etc/pressmark/HKEY_LOCAL_MACHINE.reg";
}  // namespace

namespace pm::registry {

namespace {

thread_local std::string tLastError;

int32_t fail(int32_t code, std::string text) {
  tLastError = std::move(text);
  return code;
}

int32_t ok() {
  tLastError.clear();
  return kSuccess;
}

char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsFolded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

std::string foldName(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lowerAscii(c);
  return out;
}

constexpr size_t kMaxKeyDepth = 512;
constexpr size_t kMaxKeyBytes = size_t{64} << 20;
constexpr const char* kTooMuch = "the key paths of this file take more than 64 MiB; keys nest too deeply";

// The non-empty parts of a "\"-separated path.
std::vector<std::string_view> splitPath(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string joinPath(const std::vector<std::string_view>& parts) {
  std::string out;
  for (auto p : parts) {
    if (!out.empty()) out += '\\';
    out += p;
  }
  return out;
}

std::string canonicalPath(std::string_view path) {
  return joinPath(splitPath(path));
}

std::string joinPaths(std::string_view base, std::string_view sub) {
  std::string a = canonicalPath(base), b = canonicalPath(sub);
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + "\\" + b;
}

// Names the file format cannot hold: line breaks and NULs.
bool unwritableName(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

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

}  // namespace

// ---- Keys and hives -------------------------------------------------------

std::string foldPath(std::string_view path) {
  return foldName(canonicalPath(path));
}

const Value* Key::find(std::string_view name) const {
  for (const Value& v : values)
    if (equalsFolded(v.name, name)) return &v;
  return nullptr;
}

Value* Key::find(std::string_view name) {
  for (Value& v : values)
    if (equalsFolded(v.name, name)) return &v;
  return nullptr;
}

const Key* Hive::findKey(std::string_view path) const {
  auto it = keys.find(foldPath(path));
  return it == keys.end() ? nullptr : &it->second;
}

Key& Hive::createKey(std::string_view path) {
  auto parts = splitPath(path);
  if (keys.find("") == keys.end()) keys.emplace("", Key{});
  Key* key = &keys.find("")->second;
  std::string spelled;
  for (auto part : parts) {
    std::string candidate = spelled.empty() ? std::string(part) : spelled + "\\" + std::string(part);
    std::string folded = foldName(candidate);
    auto it = keys.find(folded);
    if (it == keys.end()) {
      it = keys.emplace(folded, Key{candidate, {}}).first;
    }
    spelled = it->second.path;
    key = &it->second;
  }
  return *key;
}

void Hive::deleteKey(std::string_view path) {
  std::string folded = foldPath(path);
  if (folded.empty()) {
    keys.clear();
    return;
  }
  std::string prefix = folded + "\\";
  for (auto it = keys.begin(); it != keys.end();) {
    if (it->first == folded || it->first.compare(0, prefix.size(), prefix) == 0)
      it = keys.erase(it);
    else
      ++it;
  }
}

FormatError::FormatError(std::string file, int line, const std::string& reason)
    : std::runtime_error(file + ":" + std::to_string(line) + ": " + reason), file_(std::move(file)), line_(line) {}

// ---- Reading hive files -----------------------------------------------------

namespace {

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

// ---- Writing hive files ---------------------------------------------------

namespace {

std::string quote(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

// Whether string data can be written as "text": one terminating NUL, no
// other NUL, no line break, valid UTF-8.
bool plainString(const std::string& data) {
  if (data.empty() || data.back() != '\0') return false;
  std::string_view text(data.data(), data.size() - 1);
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos && utf8::valid(text);
}

void appendHex(std::string& out, std::string_view prefix, const std::string& data) {
  static const char* digits = "0123456789abcdef";
  out += prefix;
  size_t column = out.size() - out.rfind('\n') - 1;
  for (size_t k = 0; k < data.size(); ++k) {
    unsigned char b = static_cast<unsigned char>(data[k]);
    out += digits[b >> 4];
    out += digits[b & 15];
    column += 2;
    if (k + 1 < data.size()) {
      out += ',';
      ++column;
      if (column >= 76) {
        out += "\\\r\n  ";
        column = 2;
      }
    }
  }
}

}  // namespace

std::string formatHive(const Hive& hive) {
  std::string out = "REGEDIT4\r\n\r\n";
  for (const auto& [folded, key] : hive.keys) {
    out += "[" + hive.rootName + (key.path.empty() ? "" : "\\" + key.path) + "]\r\n";
    for (const Value& v : key.values) {
      std::string line = v.name.empty() ? "@=" : quote(v.name) + "=";
      if (v.type == 1 && plainString(v.data)) {
        line += quote(std::string_view(v.data.data(), v.data.size() - 1));
      } else if (v.type == 4 && v.data.size() == 4) {
        uint32_t n = 0;
        for (int b = 3; b >= 0; --b) n = (n << 8) | static_cast<unsigned char>(v.data[b]);
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", n);
        line += buf;
      } else {
        char prefix[24];
        if (v.type == 3)
          std::snprintf(prefix, sizeof prefix, "hex:");
        else
          std::snprintf(prefix, sizeof prefix, "hex(%x):", v.type);
        out += line;
        line.clear();
        appendHex(out, prefix, v.data);
      }
      out += line + "\r\n";
    }
    out += "\r\n";
  }
  return out;
}

// ---- Files and their locations ------------------------------------------------

namespace {

std::mutex gMutex;  // guards everything below
std::string gSystemHiveOverride;
std::map<std::string, Deny> gDenied;

struct CachedHive {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  struct timespec mtime {};
  std::shared_ptr<const Hive> hive;
};
std::map<std::string, CachedHive> gCache;

struct OpenKey {
  int hive = 0;  // 0 HKEY_LOCAL_MACHINE, 1 HKEY_CURRENT_USER
  std::string path;
  uint32_t access = 0;
};
std::map<int32_t, OpenKey> gHandles;
int32_t gNextHandle = 0x100;

Deny deniedLocked(const std::string& path) {
  auto it = gDenied.find(path);
  return it == gDenied.end() ? Deny::None : it->second;
}

std::string configDir() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.config";
  struct passwd pw {};
  struct passwd* found = nullptr;
  std::vector<char> buf(16384);
  if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && pw.pw_dir && pw.pw_dir[0] == '/')
    return std::string(pw.pw_dir) + "/.config";
  return "";
}

std::string registryDirFromEnv() {
  const char* dir = std::getenv("PRESSMARK_REGISTRY");
  return dir && *dir ? std::string(dir) : std::string();
}

std::string systemHiveLocked() {
  return gSystemHiveOverride.empty() ? kDefaultSystemHive : gSystemHiveOverride;
}

std::string dirOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Whether a hive file could be replaced (or created) by this process.
bool canWriteLocked(const std::string& path) {
  if (path.empty()) return false;
  if (static_cast<int>(deniedLocked(path)) & static_cast<int>(Deny::Write)) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return false;
    return ::faccessat(AT_FDCWD, dirOf(path).c_str(), W_OK | X_OK, AT_EACCESS) == 0;
  }
  std::string dir = dirOf(path);
  for (;;) {
    if (::stat(dir.c_str(), &st) == 0)
      return S_ISDIR(st.st_mode) && ::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
    if (errno != ENOENT || dir == "/" || dir == ".") return false;
    dir = dirOf(dir);
  }
}

struct Files {
  std::string primary, overlay;
  const char* rootName = kLocalMachine;
};

bool filesForHiveLocked(int hive, Files& f) {
  std::string envDir = registryDirFromEnv();
  f.rootName = hive == 0 ? kLocalMachine : kCurrentUser;
  std::string fileName = std::string(f.rootName) + ".reg";
  if (!envDir.empty()) {
    f.primary = envDir + "/" + fileName;
    f.overlay.clear();
    return true;
  }
  std::string config = configDir();
  if (hive == 0) {
    f.primary = systemHiveLocked();
    f.overlay = config.empty() ? std::string() : config + "/pressmark/" + fileName;
    return true;
  }
  if (config.empty()) return false;
  f.primary = config + "/pressmark/" + fileName;
  f.overlay.clear();
  return true;
}

// The file writes go to; "" when there is none that can be written.
std::string writeTargetLocked(int hive) {
  Files f;
  if (!filesForHiveLocked(hive, f)) return "";
  if (f.overlay.empty()) return canWriteLocked(f.primary) ? f.primary : "";
  if (canWriteLocked(f.primary)) return f.primary;
  return canWriteLocked(f.overlay) ? f.overlay : "";
}

bool resolveRoot(int32_t root, int& hive, std::string& prefix) {
  switch (root) {
    case kHKLM:
      hive = 0;
      prefix.clear();
      return true;
    case kHKCU:
      hive = 1;
      prefix.clear();
      return true;
    case kHKCR:
      hive = 0;
      prefix = kClassesPrefix;
      return true;
    default:
      return false;
  }
}

// Reads one hive file (an absent file is an empty hive), through the cache.
int32_t loadFileLocked(const std::string& path, const char* rootName, std::shared_ptr<const Hive>& out,
                       bool useCache = true) {
  if (static_cast<int>(deniedLocked(path)) & static_cast<int>(Deny::Read))
    return fail(kAccessDenied, "cannot read " + path + ": " + std::strerror(EACCES));
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    if (err == ENOENT || err == ENOTDIR) {
      auto empty = std::make_shared<Hive>();
      empty->rootName = rootName;
      out = empty;
      return kSuccess;
    }
    int32_t code = (err == EACCES || err == EPERM) ? kAccessDenied : kIoFailed;
    return fail(code, "cannot read " + path + ": " + std::strerror(err));
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(kIoFailed, "cannot read " + path + ": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return fail(kIoFailed, "cannot read " + path + ": not a regular file");
  if (useCache) {
    auto it = gCache.find(path);
    if (it != gCache.end() && it->second.dev == st.st_dev && it->second.ino == st.st_ino &&
        it->second.size == st.st_size && it->second.mtime.tv_sec == st.st_mtim.tv_sec &&
        it->second.mtime.tv_nsec == st.st_mtim.tv_nsec) {
      out = it->second.hive;
      return kSuccess;
    }
  }
  std::string text;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(kIoFailed, "cannot read " + path + ": " + std::strerror(errno));
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  try {
    auto hive = std::make_shared<const Hive>(parseHive(text, rootName, path));
    gCache[path] = CachedHive{st.st_dev, st.st_ino, st.st_size, st.st_mtim, hive};
    out = std::move(hive);
  } catch (const FormatError& e) {
    return fail(kBadDatabase, e.what());
  } catch (const std::bad_alloc&) {
    return fail(kIoFailed, "cannot read " + path + ": out of memory");
  }
  return kSuccess;
}

// The hive as readers see it: the overlay's keys and values over the
// primary file's.
struct View {
  std::shared_ptr<const Hive> primary, overlay;
  bool keyExists(const std::string& path) const {
    return primary->findKey(path) || (overlay && overlay->findKey(path)) || foldPath(path).empty();
  }
  const Value* value(const std::string& path, std::string_view name) const {
    if (overlay)
      if (const Key* k = overlay->findKey(path))
        if (const Value* v = k->find(name)) return v;
    if (const Key* k = primary->findKey(path)) return k->find(name);
    return nullptr;
  }
};

int32_t loadViewLocked(int hive, View& view) {
  Files f;
  if (!filesForHiveLocked(hive, f))
    return fail(kIoFailed, "no configuration folder for " + std::string(kCurrentUser) + " (HOME is not set)");
  int32_t rc = loadFileLocked(f.primary, f.rootName, view.primary);
  if (rc != kSuccess) return rc;
  view.overlay.reset();
  if (!f.overlay.empty()) {
    rc = loadFileLocked(f.overlay, f.rootName, view.overlay);
    if (rc != kSuccess) return rc;
  }
  return kSuccess;
}

int mkdirs(const std::string& dir, mode_t mode) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  if (errno != ENOENT) return errno;
  std::string parent = dirOf(dir);
  if (parent != dir) {
    int err = mkdirs(parent, mode);
    if (err) return err;
  }
  if (::mkdir(dir.c_str(), mode) != 0 && errno != EEXIST) return errno;
  return 0;
}

class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  ~FdGuard() {
    if (fd_ >= 0) ::close(fd_);
  }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int get() const { return fd_; }
  int release() {
    int f = fd_;
    fd_ = -1;
    return f;
  }

 private:
  int fd_;
};

int32_t ioFailure(const std::string& path, int err) {
  int32_t code = (err == EACCES || err == EPERM || err == EROFS) ? kAccessDenied : kIoFailed;
  return fail(code, "cannot write " + path + ": " + std::strerror(err));
}

// Read-modify-write of one hive file under its lock. The mutation may
// refuse by returning a code other than kSuccess; nothing is written then.
int32_t transactLocked(const std::string& hivePath, const char* rootName, bool systemFile,
                       const std::function<int32_t(Hive&)>& mutate) {
  // A hive that is a symbolic link is written where the link points, so
  // the rename does not replace the link with a file of its own.
  std::string path = hivePath;
  struct stat lst {};
  if (::lstat(hivePath.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    if (char* real = ::realpath(hivePath.c_str(), nullptr)) {
      path = real;
      std::free(real);
    }
  }
  std::string dir = dirOf(path);
  if (int err = mkdirs(dir, systemFile ? 0755 : 0700)) return ioFailure(dir, err);
  mode_t newMode = systemFile ? 0644 : 0600;
  FdGuard lock(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, newMode));
  if (lock.get() < 0) return ioFailure(path + ".lock", errno);
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return ioFailure(path + ".lock", errno);
  }
  // Under the lock the file on disk is the truth; a malformed file is
  // refused rather than overwritten, so nothing a person wrote is lost.
  std::shared_ptr<const Hive> current;
  int32_t rc = loadFileLocked(path, rootName, current, false);
  if (rc != kSuccess) return rc;
  Hive hive = *current;
  rc = mutate(hive);
  if (rc != kSuccess) return rc;
  std::string text = formatHive(hive);

  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) newMode = st.st_mode & 07777;
  try {
    AtomicFile out(path, newMode);
    out.write(text);
    out.commit();
  } catch (const AtomicFileError& e) {
    return ioFailure(path, e.error());
  }
  FdGuard dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.get() >= 0) ::fsync(dirFd.get());
  gCache.erase(path);
  gCache.erase(hivePath);
  return kSuccess;
}

int32_t writeLocked(int hive, const std::function<int32_t(Hive&)>& mutate) {
  Files f;
  if (!filesForHiveLocked(hive, f))
    return fail(kIoFailed, "no configuration folder for " + std::string(kCurrentUser) + " (HOME is not set)");
  std::string target = writeTargetLocked(hive);
  if (target.empty())
    return fail(kAccessDenied, "no writable file for " + std::string(f.rootName) + " (" + f.primary + ")");
  return transactLocked(target, f.rootName, hive == 0 && target == f.primary && f.overlay.size() > 0, mutate);
}

// The hive and full path a key argument and subkey name stand for.
bool resolveKeyLocked(int32_t key, std::string_view subKey, int& hive, std::string& path) {
  std::string prefix;
  if (resolveRoot(key, hive, prefix)) {
    path = joinPaths(prefix, subKey);
    return true;
  }
  auto it = gHandles.find(key);
  if (it == gHandles.end()) return false;
  hive = it->second.hive;
  path = joinPaths(it->second.path, subKey);
  return true;
}

int32_t newHandleLocked(int hive, const std::string& path, uint32_t access) {
  while (gNextHandle <= 0 || gHandles.count(gNextHandle)) {
    gNextHandle = gNextHandle <= 0 ? 0x100 : gNextHandle + 4;
  }
  int32_t h = gNextHandle;
  gNextHandle += 4;
  gHandles[h] = OpenKey{hive, path, access};
  return h;
}

constexpr uint32_t kWriteRights = kKeySetValue | kKeyCreateSubKey;

}  // namespace

bool hiveFilesForRoot(int32_t root, HiveFiles& out) {
  std::lock_guard<std::mutex> g(gMutex);
  int hive;
  std::string prefix;
  if (!resolveRoot(root, hive, prefix)) return false;
  Files f;
  if (!filesForHiveLocked(hive, f)) return false;
  out.primary = f.primary;
  out.overlay = f.overlay;
  return true;
}

std::string hiveFileForRoot(int32_t root) {
  std::lock_guard<std::mutex> g(gMutex);
  int hive;
  std::string prefix;
  if (!resolveRoot(root, hive, prefix)) return "";
  std::string target = writeTargetLocked(hive);
  if (!target.empty()) return target;
  Files f;
  return filesForHiveLocked(hive, f) ? f.primary : "";
}

const std::string& lastErrorText() {
  return tLastError;
}

int32_t regOpenKeyEx(int32_t key, std::string_view subKey, uint32_t, uint32_t desired, int32_t& result) {
  result = 0;
  std::lock_guard<std::mutex> g(gMutex);
  int hive;
  std::string path;
  if (!resolveKeyLocked(key, subKey, hive, path)) return fail(kInvalidHandle, "unknown key handle");
  View view;
  int32_t rc = loadViewLocked(hive, view);
  if (rc != kSuccess) return rc;
  if (!view.keyExists(path)) return fail(kFileNotFound, "no key " + path);
  if ((desired & kWriteRights) && writeTargetLocked(hive).empty())
    return fail(kAccessDenied, "the key " + path + " cannot be written");
  if (const Key* k = view.primary->findKey(path)) path = k->path;
  result = newHandleLocked(hive, path, desired);
  return ok();
}

int32_t regCreateKeyEx(int32_t key, std::string_view subKey, uint32_t, uint32_t desired, int32_t& result,
                       uint32_t* disposition) {
  result = 0;
  std::lock_guard<std::mutex> g(gMutex);
  int hive;
  std::string path;
  if (!resolveKeyLocked(key, subKey, hive, path)) return fail(kInvalidHandle, "unknown key handle");
  if (unwritableName(subKey)) return fail(kInvalidParameter, "a key name may not hold line breaks or NULs");
  if (splitPath(path).size() > kMaxKeyDepth)
    return fail(kInvalidParameter,
                "a key may not be nested more than " + std::to_string(kMaxKeyDepth) + " levels deep");
  auto parent = gHandles.find(key);
  if (parent != gHandles.end() && !(parent->second.access & kKeyCreateSubKey))
    return fail(kAccessDenied, "the key was not opened for creating subkeys");
  View view;
  int32_t rc = loadViewLocked(hive, view);
  if (rc != kSuccess) return rc;
  uint32_t how = 2;
  if (!view.keyExists(path)) {
    how = 1;
    rc = writeLocked(hive, [&](Hive& h) {
      path = h.createKey(path).path;
      return kSuccess;
    });
    if (rc != kSuccess) return rc;
  } else if ((desired & kWriteRights) && writeTargetLocked(hive).empty()) {
    return fail(kAccessDenied, "the key " + path + " cannot be written");
  }
  if (disposition) *disposition = how;
  result = newHandleLocked(hive, path, desired);
  return ok();
}

int32_t regQueryValueEx(int32_t key, std::string_view name, uint32_t* type, uint8_t* data, uint32_t* size) {
  std::lock_guard<std::mutex> g(gMutex);
  int hive;
  std::string path;
  if (!resolveKeyLocked(key, "", hive, path)) return fail(kInvalidHandle, "unknown key handle");
  if (data && !size) return fail(kInvalidParameter, "a buffer without a size");
  View view;
  int32_t rc = loadViewLocked(hive, view);
  if (rc != kSuccess) return rc;
  if (!view.keyExists(path)) return fail(kKeyDeleted, "the key " + path + " no longer exists");
  const Value* v = view.value(path, name);
  if (!v) return fail(kFileNotFound, "no value \"" + std::string(name) + "\" in " + path);
  if (v->data.size() > UINT32_MAX) return fail(kIoFailed, "value too large");
  uint32_t needed = static_cast<uint32_t>(v->data.size());
  if (type) *type = v->type;
  if (data) {
    if (*size < needed) {
      *size = needed;
      return fail(kMoreData, "buffer too small");
    }
    std::memcpy(data, v->data.data(), needed);
  }
  if (size) *size = needed;
  return ok();
}

int32_t regSetValueEx(int32_t key, std::string_view name, uint32_t type, const uint8_t* data, uint32_t size) {
  std::lock_guard<std::mutex> g(gMutex);
  int hive;
  std::string path;
  if (!resolveKeyLocked(key, "", hive, path)) return fail(kInvalidHandle, "unknown key handle");
  auto it = gHandles.find(key);
  if (it != gHandles.end() && !(it->second.access & kKeySetValue))
    return fail(kAccessDenied, "the key was not opened for setting values");
  if (unwritableName(name)) return fail(kInvalidParameter, "a value name may not hold line breaks or NULs");
  if (!data && size) return fail(kInvalidParameter, "data size without data");
  View view;
  int32_t rc = loadViewLocked(hive, view);
  if (rc != kSuccess) return rc;
  if (!view.keyExists(path)) return fail(kKeyDeleted, "the key " + path + " no longer exists");
  std::string bytes = data ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
  rc = writeLocked(hive, [&](Hive& h) {
    Key& k = h.createKey(path);
    if (Value* v = k.find(name)) {
      v->type = type;
      v->data = bytes;
    } else {
      k.values.push_back(Value{std::string(name), type, bytes});
    }
    return kSuccess;
  });
  return rc == kSuccess ? ok() : rc;
}

int32_t regCloseKey(int32_t key) {
  std::lock_guard<std::mutex> g(gMutex);
  int hive;
  std::string prefix;
  if (resolveRoot(key, hive, prefix)) return ok();
  if (gHandles.erase(key) == 0) return fail(kInvalidHandle, "unknown key handle");
  return ok();
}

size_t openHandleCount() {
  std::lock_guard<std::mutex> g(gMutex);
  return gHandles.size();
}

void setSystemHivePathForTesting(const std::string& path) {
  std::lock_guard<std::mutex> g(gMutex);
  gSystemHiveOverride = path;
}

void denyFileForTesting(const std::string& path, Deny deny) {
  std::lock_guard<std::mutex> g(gMutex);
  if (deny == Deny::None)
    gDenied.erase(path);
  else
    gDenied[path] = deny;
}

void clearDeniedForTesting() {
  std::lock_guard<std::mutex> g(gMutex);
  gDenied.clear();
}

}  // namespace pm::registry
