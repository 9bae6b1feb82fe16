// The PDF-file methods working for real through the MuPDF server, on
// documents the tests make themselves and read back independently.
#pragma once

#include <gtest/gtest.h>

#include <utility>

#include "automation/surfaces/Acrobat.h"
#include "component/pdffiles/assembly/Real.h"

namespace pm::test {

// A page with these lines of text (and Japanese text below them).
inline PageSpec textPage(std::vector<std::string> lines, std::string cjk = {}) {
  PageSpec p;
  p.lines = std::move(lines);
  p.cjk = std::move(cjk);
  return p;
}

// Width, height and bits per pixel of a BMP file, and whether its length
// is the one those imply; all zero when the file is not a BMP.
struct BmpInfo {
  int32_t width = 0, height = 0;
  int bits = 0;
  bool lengthRight = false;
  bool hasInk = false;  // some pixel is not white
};
BmpInfo bmpInfo(const std::string& path);

class RealViewer : public RealTest {
 protected:
  ~RealViewer() override {
    // Nothing a test left in the viewer leaks into the next one.
    ignoreErrors([] { call(CreateObject(acrobat::kApp), "CloseAllDocs"); });
  }
};

}  // namespace pm::test
