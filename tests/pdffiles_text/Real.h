// The PDF-file methods working for real through the MuPDF server, on
// documents the tests make themselves and read back independently.
#pragma once

#include <gtest/gtest.h>

#include <utility>

#include "pdfserver/Fixtures.h"
#include "automation/Automation.h"
#include "automation/surfaces/Acrobat.h"
#include "component/frame/CreatePDF.h"
#include "component/frame/ModuleState.h"
#include "support/TestSupport.h"

namespace pm::test {

// The web links of each page of a file: (0-based page, address).
std::vector<std::pair<int, std::string>> linksOf(const std::string& path);

// Width, height and bits per pixel of a BMP file, and whether its length
// is the one those imply; all zero when the file is not a BMP.
struct BmpInfo {
  int32_t width = 0, height = 0;
  int bits = 0;
  bool lengthRight = false;
  bool hasInk = false;  // some pixel is not white
};
BmpInfo bmpInfo(const std::string& path);

class RealViewer : public ::testing::Test {
 protected:
  RealViewer() : registry_("PRESSMARK_REGISTRY", registryDir_.path()) {
    registerCreatePDF();
    pdf_ = CreateObject(kCreatePDFProgId);
    moduleState().strAcrobatVersion = "7.1";
  }
  ~RealViewer() override {
    // Nothing a test left in the viewer leaks into the next one.
    ignoreErrors([] { call(CreateObject(acrobat::kApp), "CloseAllDocs"); });
  }
  std::string make(const std::string& name, const DocSpec& plan) {
    std::string p = dir_.file(name);
    makePdf(p, plan);
    return p;
  }

  test::TempDir registryDir_;
  test::ScopedEnv registry_;
  TempDir dir_;
  ObjectRef pdf_;
};

}  // namespace pm::test
