// Fuzz target: delimited text files read into arrays (TextFileToArray),
// with the delimiter and the quote handling taken from the first byte.
#include "Fuzz.h"
#include "component/data/TextFileToArray.h"

std::vector<std::string> pmFuzzTokens() {
  return {"\"", "\"\"", ",", "\t", ";", "\r\n", "\r", "\n", "\xC3\xA9", "\xFF"};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const char* const kDelimiters[] = {",", "\t", ";", "", "\"", "ab"};
  const char* delimiter = kDelimiters[data[0] % 6];
  bool quotes = data[0] & 0x80;
  const std::string& path = pmfuzz::writeScratch(data + 1, size - 1, ".txt");
  pm::Variant array;
  pm::TextFileToArrayCode(pm::Variant(path), array, pm::Variant(delimiter), pm::Variant(quotes));
  return 0;
}
