// The process's clipboard: one picture in bitmap format, put there by the
// viewer's page copy and taken by whoever saves it. A desktop clipboard has
// no place in an unattended component, so this one lives in the process.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "automation/Internal.h"

namespace pm {

struct Bitmap {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgb;  // rows from the top, 3 bytes a pixel
};

namespace clipboard {

// The bitmap clipboard format number.
inline constexpr int kFormatBitmap = 2;

void clear();
PM_INTERNAL void put(Bitmap picture);
bool hasFormat(int format);
// The picture, or nothing when the clipboard holds none.
std::optional<Bitmap> get();

}  // namespace clipboard

// Writes the picture as a 24-bit device-independent bitmap file. The file is
// written under a temporary name beside the target and renamed over it.
void saveBitmapFile(const Bitmap& picture, const std::string& path);

}  // namespace pm
