// Keys and hives in memory, and the names and paths they are found by.
#include "system/RegistryInternal.h"

namespace pm::registry::detail {

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

}  // namespace pm::registry::detail

namespace pm::registry {

using namespace detail;

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

}  // namespace pm::registry
