#include "Images.h"

#include <fstream>
#include <stdexcept>
#include <vector>

#include "pdfserver/Fixtures.h"

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

namespace {

class Bits {
 public:
  void put(unsigned code, int width) {
    for (int i = 0; i < width; ++i) {
      if (code & (1u << i)) cur_ |= static_cast<uint8_t>(1u << n_);
      if (++n_ == 8) flush();
    }
  }
  std::vector<uint8_t> finish() {
    if (n_) flush();
    return std::move(bytes_);
  }

 private:
  void flush() {
    bytes_.push_back(cur_);
    cur_ = 0;
    n_ = 0;
  }
  std::vector<uint8_t> bytes_;
  uint8_t cur_ = 0;
  int n_ = 0;
};

}  // namespace

void makeGif(const std::string& path, int width, int height) {
  std::vector<uint8_t> g = {'G', 'I', 'F', '8', '9', 'a'};
  auto u16 = [&](int v) {
    g.push_back(static_cast<uint8_t>(v & 0xFF));
    g.push_back(static_cast<uint8_t>(v >> 8));
  };
  u16(width);
  u16(height);
  g.push_back(0xF7);  // global colour table of 256 entries
  g.push_back(0);
  g.push_back(0);
  for (int i = 0; i < 256; ++i) {
    g.push_back(i == 1 ? 255 : 0);
    g.push_back(0);
    g.push_back(i == 0 ? 255 : 0);
  }
  g.push_back(0x2C);
  u16(0);
  u16(0);
  u16(width);
  u16(height);
  g.push_back(0);
  g.push_back(8);  // minimum code size
  // Every pixel a literal 9-bit code, with a clear code often enough that
  // the code width never grows.
  Bits bits;
  int sinceClear = 0;
  bits.put(256, 9);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      if (sinceClear == 254) {
        bits.put(256, 9);
        sinceClear = 0;
      }
      bits.put(((x / 10 + y / 10) % 2) ? 1u : 0u, 9);
      ++sinceClear;
    }
  bits.put(257, 9);
  std::vector<uint8_t> data = bits.finish();
  for (size_t at = 0; at < data.size(); at += 255) {
    size_t n = std::min<size_t>(255, data.size() - at);
    g.push_back(static_cast<uint8_t>(n));
    g.insert(g.end(), data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
  }
  g.push_back(0);
  g.push_back(0x3B);
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(g.data()), static_cast<std::streamsize>(g.size()));
}

}  // namespace pm::test
