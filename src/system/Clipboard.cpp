#include "system/Clipboard.h"

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "automation/Error.h"
#include "system/AtomicFile.h"
#include "system/Files.h"

namespace pm {

namespace {
std::mutex mu;
std::optional<Bitmap>& slot() {
  static std::optional<Bitmap> s;
  return s;
}

void le16(std::vector<uint8_t>& o, uint32_t v) {
  o.push_back(static_cast<uint8_t>(v));
  o.push_back(static_cast<uint8_t>(v >> 8));
}
void le32(std::vector<uint8_t>& o, uint32_t v) {
  le16(o, v & 0xFFFF);
  le16(o, v >> 16);
}
}  // namespace

namespace clipboard {

void clear() {
  std::lock_guard<std::mutex> l(mu);
  slot().reset();
}

void put(Bitmap picture) {
  if (picture.width < 0 || picture.height < 0 ||
      picture.rgb.size() != static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) * 3)
    raise(basic::InvalidProcedureCall, "The picture's size does not match its pixels");
  std::lock_guard<std::mutex> l(mu);
  slot() = std::move(picture);
}

bool hasFormat(int format) {
  std::lock_guard<std::mutex> l(mu);
  return format == kFormatBitmap && slot().has_value();
}

std::optional<Bitmap> get() {
  std::lock_guard<std::mutex> l(mu);
  return slot();
}

}  // namespace clipboard

void saveBitmapFile(const Bitmap& p, const std::string& path) {
  if (p.width <= 0 || p.height <= 0) raise(basic::InvalidProcedureCall, "The picture is empty");
  const uint32_t rowBytes = (static_cast<uint32_t>(p.width) * 3 + 3) & ~3u;
  const uint32_t imageBytes = rowBytes * static_cast<uint32_t>(p.height);
  std::vector<uint8_t> o;
  o.reserve(54 + imageBytes);
  o.push_back('B');
  o.push_back('M');
  le32(o, 54 + imageBytes);
  le32(o, 0);
  le32(o, 54);
  le32(o, 40);  // BITMAPINFOHEADER
  le32(o, static_cast<uint32_t>(p.width));
  le32(o, static_cast<uint32_t>(p.height));  // positive: rows bottom-up
  le16(o, 1);
  le16(o, 24);
  le32(o, 0);
  le32(o, imageBytes);
  le32(o, 3780);  // 96 dpi
  le32(o, 3780);
  le32(o, 0);
  le32(o, 0);
  for (int32_t y = p.height - 1; y >= 0; --y) {
    const uint8_t* row = p.rgb.data() + static_cast<size_t>(y) * static_cast<size_t>(p.width) * 3;
    for (int32_t x = 0; x < p.width; ++x) {
      o.push_back(row[x * 3 + 2]);
      o.push_back(row[x * 3 + 1]);
      o.push_back(row[x * 3 + 0]);
    }
    for (uint32_t pad = static_cast<uint32_t>(p.width) * 3; pad < rowBytes; ++pad) o.push_back(0);
  }
  try {
    AtomicFile out(path);
    out.write(std::string_view(reinterpret_cast<const char*>(o.data()), o.size()));
    out.commit();
  } catch (const AtomicFileError& e) {
    raiseFileError(e.error(), path);
  }
}

}  // namespace pm
