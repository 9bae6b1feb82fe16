// Text files of the data methods: 8-bit text in the system code page,
// written lines ending in CR LF, read lines ending at CR LF or a lone CR.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation/Variant.h"
#include "system/AtomicFile.h"

namespace pm::datafiles {

// The lines of a file, converted to UTF-8. A lone LF stays part of its
// line; a line end at the very end of the file adds no empty line. Raises
// when the file cannot be opened for reading.
std::vector<std::string> readLines(const std::string& path);

// Writes a text file under a temporary name beside the target and renames
// it over the target only on commit(), so a failure never leaves a partial
// file under the caller's name (an existing file stays as it was). Text is
// taken as UTF-8 and converted to the code page in large pieces.
class TextFileWriter {
 public:
  explicit TextFileWriter(const std::string& path);  // raises when the file cannot be created
  ~TextFileWriter();
  TextFileWriter(const TextFileWriter&) = delete;
  TextFileWriter& operator=(const TextFileWriter&) = delete;

  // One line; CR LF is added.
  void line(std::string_view utf8);
  // A line built in pieces: append, then endLine() adds CR LF. The buffer
  // is reused for the whole file, so a million lines cost no allocation.
  void append(std::string_view utf8) { pending_.append(utf8); }
  void append(char c) { pending_.push_back(c); }
  void endLine();
  // Text of whole lines, each ended by kLineEnd.
  void text(std::string_view utf8);
  static constexpr std::string_view kLineEnd = "\r\n";
  void commit();

 private:
  void flush();
  void writeOut(std::string_view text);
  std::string path_;
  std::unique_ptr<AtomicFile> file_;
  std::string pending_;
};

// The code page's bytes for UTF-8 text; text the code page holds byte for
// byte (ASCII in any ASCII-based code page, any valid text in UTF-8) is
// passed through without a conversion.
std::string encodeText(std::string&& utf8);
std::string decodeText(std::string&& bytes);

// The text of one element for the array-to-text methods: CStr, refusing
// Null, objects and arrays (error 94 or 13).
std::string elementText(const Variant& v);

// The text a caller's separator argument holds (Null and objects refused).
std::string argText(const Variant& v);

// True when the text is empty or holds only spaces (code 32).
bool emptyOrSpaces(std::string_view s);

}  // namespace pm::datafiles
