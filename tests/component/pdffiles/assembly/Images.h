// Image files the tests make themselves: PNG, JPEG, BMP and TIFF through
// Ghostscript (which records the resolution in each), GIF written here.
#pragma once

#include <string>

namespace pm::test {

// A width x height picture at dpi dots per inch in the format of the
// Ghostscript device ("png16m", "jpeg", "bmp16m", "tiff24nc"); pages > 1
// makes a multi-page file where the format has pages (TIFF).
void makeWithGhostscript(const std::string& path, const std::string& device, int width, int height, int dpi,
                         int pages = 1);

// A width x height GIF (no resolution: GIF has none) in two colours.
void makeGif(const std::string& path, int width, int height);

}  // namespace pm::test
