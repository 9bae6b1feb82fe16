#include "component/data/TextFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "automation/Convert.h"
#include "automation/Error.h"
#include "system/CodePage.h"
#include "system/Files.h"
#include "system/WriteTarget.h"

namespace pm::datafiles {

namespace {
// Written in pieces of this size: large enough that the writes cost
// nothing next to the text, small enough that a short job (the text of a
// document, say) does not carry a megabyte of buffer.
constexpr size_t kFlushAt = 64 * 1024;

bool asciiBased(const std::string& name) {
  std::string n = UCase(name);
  for (const char* prefix : {"UTF-8", "UTF8", "ISO-8859", "ISO8859", "ISO_8859", "WINDOWS-125", "CP125", "ANSI_X3.4",
                             "ASCII", "US-ASCII", "LATIN"})
    if (n.rfind(prefix, 0) == 0) return true;
  return false;
}

bool isUtf8(const std::string& name) {
  std::string n = UCase(name);
  return n == "UTF-8" || n == "UTF8";
}

bool allAscii(std::string_view s) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t n = s.size(), i = 0;
  uint64_t acc = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    acc |= w;
  }
  for (; i < n; ++i) acc |= p[i];
  return (acc & 0x8080808080808080ull) == 0;
}

bool validUtf8(std::string_view s) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t n = s.size();
  for (size_t i = 0; i < n;) {
    unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (len == 0 || i + len > n) return false;
    for (size_t k = 1; k < len; ++k)
      if ((p[i + k] & 0xC0) != 0x80) return false;
    if (len == 3 && ((c == 0xE0 && p[i + 1] < 0xA0) || (c == 0xED && p[i + 1] >= 0xA0))) return false;
    if (len == 4 && ((c == 0xF0 && p[i + 1] < 0x90) || (c == 0xF4 && p[i + 1] >= 0x90))) return false;
    i += len;
  }
  return true;
}

bool passesThrough(std::string_view s) {
  static const bool ascii = asciiBased(codePageName());
  static const bool utf8 = isUtf8(codePageName());
  return (ascii && allAscii(s)) || (utf8 && validUtf8(s));
}

std::string readAll(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) raiseFileError(errno, path, basic::FileNotFound);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    raise(basic::PathFileAccess, "Cannot read " + path);
  }
  std::string data;
  if (st.st_size > 0) data.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      ::close(fd);
      raiseFileError(e, path);
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return data;
}

}  // namespace

std::string encodeText(std::string&& utf8) {
  if (passesThrough(utf8)) return std::move(utf8);
  return toCodePage(utf8);
}

std::string decodeText(std::string&& bytes) {
  if (passesThrough(bytes)) return std::move(bytes);
  return fromCodePage(bytes);
}

std::vector<std::string> readLines(const std::string& path) {
  std::string text = decodeText(readAll(path));
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') continue;
    lines.emplace_back(text, start, i - start);
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text, start, text.size() - start);
  return lines;
}

TextFileWriter::TextFileWriter(const std::string& path) {
  if (path.empty()) raise(basic::BadFileNameOrNumber, "No file name");
  // Through a symbolic link the file it points to is replaced, not the link.
  path_ = WriteTarget(path);
  struct stat st {};
  if (::stat(path_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) raise(basic::PathFileAccess, path + " is a folder");
  try {
    file_ = std::make_unique<AtomicFile>(path_);
  } catch (const AtomicFileError& e) {
    raiseFileError(e.error(), path);
  }
  pending_.reserve(kFlushAt + 16 * 1024);
}

TextFileWriter::~TextFileWriter() = default;

void TextFileWriter::line(std::string_view utf8) {
  pending_.append(utf8);
  endLine();
}

void TextFileWriter::endLine() {
  pending_.append(kLineEnd);
  if (pending_.size() >= kFlushAt) flush();
}

void TextFileWriter::text(std::string_view utf8) {
  // A large piece goes out as it is, without a copy.
  if (pending_.empty() && utf8.size() >= kFlushAt) return writeOut(utf8);
  pending_.append(utf8);
  if (pending_.size() >= kFlushAt) flush();
}

void TextFileWriter::flush() {
  if (pending_.empty()) return;
  writeOut(pending_);
  pending_.clear();
}

void TextFileWriter::writeOut(std::string_view text) {
  std::string converted;
  std::string_view bytes = text;
  if (!passesThrough(text)) {
    converted = toCodePage(text);
    bytes = converted;
  }
  try {
    file_->write(bytes);
  } catch (const AtomicFileError& e) {
    raiseFileError(e.error(), path_, basic::DiskFull);
  }
}

void TextFileWriter::commit() {
  flush();
  // A file that is replaced keeps its mode.
  try {
    file_->commit();
  } catch (const AtomicFileError& e) {
    raiseFileError(e.error(), path_, basic::DiskFull);
  }
}

std::string elementText(const Variant& v) {
  if (v.isArray() || v.isObject()) raise(basic::TypeMismatch);
  return CStr(v);
}

std::string argText(const Variant& v) {
  if (v.isArray() || v.isObject() || v.isNull()) raise(basic::TypeMismatch);
  return CStr(v);
}

bool emptyOrSpaces(std::string_view s) {
  for (char c : s)
    if (c != ' ') return false;
  return true;
}

}  // namespace pm::datafiles
