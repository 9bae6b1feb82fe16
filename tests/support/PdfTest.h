// What every PDF server test needs: the automation client and a few
// documents made once per test.
#pragma once

#include <gtest/gtest.h>

#include "support/PdfFixtures.h"
#include "automation/Automation.h"
#include "automation/surfaces/Acrobat.h"

namespace pm::test {

// Three pages (the second rotated by 90 degrees, the third with a crop box)
// with text, Japanese text on the first page, and an outline three levels
// deep whose first section is shown collapsed.
inline DocSpec standardSpec() {
  DocSpec s;
  s.title = "Standard fixture";
  s.author = "Pressmark tests";
  PageSpec p1;
  p1.lines = {"Hello world, first page.", "Second line here"};
  p1.cjk = "日本語";
  PageSpec p2;
  p2.width = 300;
  p2.height = 400;
  p2.rotate = 90;
  p2.lines = {"Rotated page text"};
  PageSpec p3;
  p3.lines = {"Third page, world again"};
  p3.cropInset = 36;
  s.pages = {p1, p2, p3};
  s.outline = {
      {"Chapter 1", 0, {{"Section 1.1", 0, {{"Detail 1.1.1", 1, {}}}, false}, {"Section 1.2", 1, {}}}},
      {"Chapter 2", 2, {}, false},
  };
  return s;
}

inline ObjectRef openPDDoc(const std::string& path) {
  ObjectRef d = CreateObject(acrobat::kPDDoc);
  EXPECT_TRUE(CBool(call(d, "Open", {path}))) << path;
  return d;
}

class PdfTest : public ::testing::Test {
 protected:
  // The document the test starts from, made as doc.pdf.
  virtual DocSpec layout() { return standardSpec(); }
  void SetUp() override {
    path = dir.file("doc.pdf");
    makePdf(path, layout());
  }
  TempDir dir;
  std::string path;
};

// The titles of an outline read back, depth first, indented by level.
inline void flatten(const std::vector<ReadOutline>& items, int level, std::vector<std::string>& out) {
  for (const auto& i : items) {
    out.push_back(std::string(static_cast<size_t>(level) * 2, ' ') + i.title + "@" + std::to_string(i.page));
    flatten(i.children, level + 1, out);
  }
}

}  // namespace pm::test
