// Opening an image file the way the viewer opens one: converted into a new
// PDF document with one page per picture, each page the picture's size at
// its own resolution (96 dots per inch for a picture that states none, and
// at least 72).
#pragma once

#include <string>

#include "servers/pdf/engine/Doc.h"

namespace pm::pdf {

// True when the file starts like an image format the engine reads (PNG,
// JPEG, GIF, BMP, TIFF, JPEG 2000, JPEG XR, PNM, PSD, JBIG2).
bool looksLikeImage(const std::string& path);

// Makes d a new document holding the picture(s) of the image file; false
// (d left closed) when the file is not an image the engine can decode. A
// multi-page TIFF gives one page per picture.
bool importImage(Doc& d, const std::string& path);

}  // namespace pm::pdf
