// What the tests against the real viewer share: a CreatePDF, documents made
// with MuPDF, and page sizes read back with mutool.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "automation/Automation.h"
#include "component/frame/CreatePDF.h"
#include "component/frame/ModuleState.h"
#include "support/PdfFixtures.h"
#include "servers/recording/Recorder.h"
#include "support/TestSupport.h"

namespace pm::test {

using Lines = std::vector<std::string>;
inline std::string q(const std::string& s) {
  return recording::Describe(Variant(s));
}

// Pages with one text line each ("<prefix> page <n>") and an outline item
// per page titled "<prefix> <n>", the first with a child.
inline DocSpec pagesSpec(const std::string& prefix, int pages) {
  DocSpec s;
  for (int i = 0; i < pages; ++i) {
    PageSpec p;
    p.lines = {prefix + " page " + std::to_string(i + 1)};
    s.pages.push_back(p);
    s.outline.push_back({prefix + " " + std::to_string(i + 1), i, {}});
  }
  if (!s.outline.empty()) s.outline[0].children.push_back({prefix + " detail", 0, {}});
  return s;
}

// Width and height in points of every page, as mutool reads them.
std::vector<std::pair<double, double>> pageSizes(const std::string& pdf);

// The first line of each page's text.
std::vector<std::string> firstLines(const std::string& pdf);

// A CreatePDF over the real viewer, with a registry and a temporary folder
// of the test's own; run passes every argument by reference, as a caller's
// variables.
class RealTest : public ::testing::Test {
 protected:
  RealTest() : registry_("PRESSMARK_REGISTRY", registryDir_.path()) {
    registerCreatePDF();
    pdf_ = CreateObject(kCreatePDFProgId);
    moduleState().strAcrobatVersion = "7.1";
    moduleState().strTempFilePath = temp_.path() + "/";
  }
  Variant run(const char* member, std::vector<Variant> args) {
    std::vector<Arg> a;
    for (Variant& v : args) a.push_back(ByRef(v));
    return call(pdf_, member, std::span<const Arg>(a.data(), a.size()));
  }
  std::string make(const std::string& name, const DocSpec& plan) {
    makePdf(dir_.file(name), plan);
    return dir_.file(name);
  }
  std::string make(const std::string& name, const std::string& prefix, int pages) {
    return make(name, pagesSpec(prefix, pages));
  }

  TempDir registryDir_;
  ScopedEnv registry_;
  TempDir dir_, temp_;
  ObjectRef pdf_;
};

// The same with the classes named played by a recording server.
class RecordedTest : public RealTest {
 protected:
  explicit RecordedTest(std::initializer_list<const char*> classes) {
    for (const char* c : classes) rec_->registerClass(c);
  }
  ~RecordedTest() override { pdf_ = ObjectRef(); }  // before the recorder its objects came from
  std::shared_ptr<recording::Recorder> rec_ = recording::Recorder::create();
};

}  // namespace pm::test
