// A Document over the real PDF server, on a two-page PDF the test makes,
// and the ways the field tests read back what was saved.
#pragma once

#include <gtest/gtest.h>

#include "pdfserver/Fixtures.h"
#include "pdfserver_js/Read.h"

namespace pm::test {

class PdfForm : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.file("form.pdf");
    DocSpec s;
    s.title = "Form";
    PageSpec p;
    p.lines = {"Order form"};
    s.pages = {p, p};
    makePdf(path, s);
    doc = openDocument(path);
  }
  void TearDown() override { doc.reset(); }
  // Saves the whole document to a new file and answers its name.
  std::string saveTo(const std::string& name) {
    std::string out = dir.file(name);
    call(doc, "Save", {Variant(int32_t(1)), Variant(out)});
    return out;
  }
  ObjectRef field(const std::string& name) { return objectOf(call(doc, "GetField", {name})); }
  TempDir dir;
  std::string path;
  ObjectRef doc;
};

inline Variant rect(double x0, double y0, double x1, double y1) {
  return V({x0, y0, x1, y1});
}

}  // namespace pm::test
