#include "Real.h"

#include <fstream>
#include <iterator>

namespace pm::test {

namespace {
uint32_t le(const std::string& b, size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<size_t>(i)]);
  return v;
}
}  // namespace

BmpInfo bmpInfo(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::string b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  BmpInfo info;
  if (b.size() < 54 || b.compare(0, 2, "BM") != 0 || le(b, 14, 4) != 40) return info;
  info.width = static_cast<int32_t>(le(b, 18, 4));
  info.height = static_cast<int32_t>(le(b, 22, 4));
  info.bits = static_cast<int>(le(b, 28, 2));
  const size_t offset = le(b, 10, 4);
  const size_t row = (static_cast<size_t>(info.width) * static_cast<size_t>(info.bits) / 8 + 3) & ~size_t(3);
  info.lengthRight = le(b, 2, 4) == b.size() && b.size() == offset + row * static_cast<size_t>(info.height);
  for (size_t i = offset; i < b.size(); ++i)
    if (static_cast<unsigned char>(b[i]) < 200) {
      // Row padding is zero too; only pixels of a row count.
      size_t inRow = (i - offset) % row;
      if (inRow < static_cast<size_t>(info.width) * 3) info.hasInk = true;
    }
  return info;
}

}  // namespace pm::test
