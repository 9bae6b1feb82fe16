// Writing hive files: REGEDIT4, text where it is plain and hex otherwise.
#include "automation/Utf8.h"
#include "system/RegistryInternal.h"

namespace pm::registry {

using namespace detail;

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

}  // namespace pm::registry
