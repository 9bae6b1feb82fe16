// What the conversions end to end with LibreOffice and the Ghostscript
// Distiller share: a CreatePDF whose temporary files go into a folder of the
// test's own, which is made by setting it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

#include "automation/Automation.h"
#include "component/frame/CreatePDF.h"
#include "support/OfficeDocs.h"
#include "support/TestSupport.h"

namespace pm::test {

class RealConversion : public ::testing::Test {
 protected:
  void SetUp() override {
    PM_REQUIRE_OR_SKIP(officeServed(), "the office server is not built (no LibreOffice SDK)");
    PM_REQUIRE_OR_SKIP(distillerServed(), "the Distiller server or Ghostscript is missing");
    registerCreatePDF();
    pdf = CreateObject(kCreatePDFProgId);
    let(pdf, "TempFilePath", Variant(dir.path() + "/tmp"));
  }
  // A temporary PostScript file is left.
  bool tempLeft() const {
    for (const auto& e : std::filesystem::directory_iterator(dir.path() + "/tmp"))
      if (e.path().extension() == ".ps") return true;
    return false;
  }
  TempDir dir;
  ObjectRef pdf;
};

}  // namespace pm::test
