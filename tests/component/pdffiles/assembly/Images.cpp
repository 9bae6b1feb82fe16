#include "Images.h"

#include <algorithm>
#include <stdexcept>

#include "support/PdfFixtures.h"
#include "support/TestSupport.h"

namespace pm::test {

void makeWithGhostscript(const std::string& path, const std::string& device, int width, int height, int dpi,
                         int pages) {
  std::string ps;
  for (int p = 0; p < pages; ++p)
    ps += "1 0 0 setrgbcolor 0 0 moveto 20 0 rlineto 0 20 rlineto closepath fill " + std::to_string(p + 1) +
          " pop showpage ";
  std::string out;
  int rc = run({"gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=" + device, "-r" + std::to_string(dpi),
                "-g" + std::to_string(width) + "x" + std::to_string(height), "-sOutputFile=" + path, "-c", ps},
               &out);
  if (rc != 0) throw std::runtime_error("gs failed: " + out);
}

void makeGif(const std::string& path, int width, int height) {
  std::string g = "GIF89a";
  auto u16 = [&](int v) { g += {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; };
  u16(width);
  u16(height);
  g += std::string("\xF7\0\0", 3);  // a global colour table of 256 entries: 0 blue, 1 red
  for (int i = 0; i < 256; ++i) g += {static_cast<char>(i == 1 ? 255 : 0), 0, static_cast<char>(i == 0 ? 255 : 0)};
  g += ',';
  for (int v : {0, 0, width, height}) u16(v);
  g += std::string("\0\x08", 2);  // no local table; the minimum code size
  // Every pixel a literal 9-bit code, least significant bit first, with a
  // clear code often enough that the code width never grows.
  std::string data;
  uint32_t acc = 0;
  int bits = 0, sinceClear = 0;
  auto put = [&](uint32_t code) {
    for (acc |= code << bits, bits += 9; bits >= 8; bits -= 8, acc >>= 8) data += static_cast<char>(acc & 0xFF);
  };
  put(256);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      if (sinceClear++ == 254) put(256), sinceClear = 1;
      put(((x / 10 + y / 10) % 2) ? 1u : 0u);
    }
  put(257);
  if (bits) data += static_cast<char>(acc);
  for (size_t at = 0; at < data.size(); at += 255)
    g += static_cast<char>(std::min<size_t>(255, data.size() - at)) + data.substr(at, 255);
  g += std::string("\0;", 2);
  writeFile(path, g);
}

}  // namespace pm::test
