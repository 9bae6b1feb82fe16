// The pipeline with the real Distiller server behind it: the driver file the
// component writes runs in Ghostscript, names with parentheses included,
// and the client receives the job events through CreatePDF.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "component/frame/CreatePDF.h"
#include "component/frame/ModuleState.h"
#include "support/OfficeDocs.h"
#include "support/Raised.h"
#include "support/TestSupport.h"

namespace pm::test {

namespace fs = std::filesystem;

namespace {

std::string pagesPs(int n) {
  std::string ps = "%!PS-Adobe-3.0\n%%Pages: " + std::to_string(n) + "\n%%EndComments\n";
  for (int i = 1; i <= n; ++i) ps += "newpath 72 72 moveto 200 200 lineto stroke showpage\n";
  return ps;
}

class Pipeline : public ::testing::Test {
 protected:
  void SetUp() override {
    PM_REQUIRE_OR_SKIP(!commandOutput("command -v gs && command -v qpdf").empty(), "Ghostscript and qpdf are needed");
    registerCreatePDF();
    pdf_ = CreateObject(kCreatePDFProgId);
    moduleState().strAcrobatVersion = "";
    events_ = EventConnection(pdf_, std::make_shared<FunctionSink>([this](const EventCall& e) {
                                if (e.event.name != "LogMessage")
                                  seen_.push_back(e.event.name + (e.args.empty() ? "" : " " + CStr(*e.args[0])));
                              }));
  }
  TempDir registryDir_, dir_;
  test::ScopedEnv registry_{"PRESSMARK_REGISTRY", registryDir_.path()};
  ObjectRef pdf_;
  EventConnection events_;
  std::vector<std::string> seen_;
};

TEST_F(Pipeline, AFailedJobShowsAsJobFailAndLeavesTheOldPdfAsItWas) {
  std::string ps = dir_.file("bad.ps"), out = dir_.file("bad.pdf");
  writeFile(ps, "%!PS\n1 0 div\n");
  Variant vPdf(out), vPs(ps);
  call(pdf_, "CreatePDFfromPS", {ByRef(vPdf), ByRef(vPs)});  // the result is not examined
  EXPECT_EQ(seen_.back(), "JobFail " + ps);
  EXPECT_FALSE(fs::exists(out));
  // With an earlier output in place, the failed job leaves it untouched;
  // a failed join also takes its driver file with it.
  std::string good = dir_.file("good.ps");
  writeFile(good, pagesPs(2));
  Variant vGood(good);
  call(pdf_, "CreatePDFfromPS", {ByRef(vPdf), ByRef(vGood)});
  std::string before = readFile(out);
  call(pdf_, "CreatePDFfromPS", {ByRef(vPdf), ByRef(vPs)});
  EXPECT_EQ(seen_.back(), "JobFail " + ps);
  Variant list(V({good, ps}));
  call(pdf_, "CreatePDFfromMultiPS", {ByRef(vPdf), ByRef(list)});
  EXPECT_EQ(readFile(out), before);
  EXPECT_EQ(pdfFacts(out).pages, 2);
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir_.path())) left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"bad.pdf", "bad.ps", "good.ps"}));
}

TEST_F(Pipeline, AnOutputThatIsTheInputIsReadBeforeItIsReplaced) {
  std::string ps = dir_.file("same.ps");
  writeFile(ps, pagesPs(3));
  Variant vPdf(ps), vPs(ps);
  call(pdf_, "CreatePDFfromPS", {ByRef(vPdf), ByRef(vPs)});
  EXPECT_EQ(seen_.back(), "JobDone " + ps);
  EXPECT_EQ(pdfFacts(ps).pages, 3);
  EXPECT_NE(commandOutput("qpdf --check " + shellQuote(ps) + " && echo whole"), "");
}

TEST_F(Pipeline, AFailedJobOnTheSecurityPathIsAnErrorWithTheDistillersReason) {
  // No events reach the client on this path, so the failure must.
  moduleState().strAcrobatVersion = "8.0";
  std::string ps = dir_.file("page.ps"), out = dir_.file("secure.pdf");
  writeFile(ps, pagesPs(1));
  Variant vPdf(out), vPs(ps), yes(true);
  Raised r = raised([&] {
    call(pdf_, "CreatePDFfromPS",
         {ByRef(vPdf), ByRef(vPs), Variant(""), Variant(false), Variant(false), Variant(""), ByRef(yes)});
  });
  EXPECT_EQ(r.number, kErrComponent);
  EXPECT_EQ(r.source, kComponentTitle);
  EXPECT_EQ(r.description.rfind("The PDF file " + out + " was not made: ", 0), 0u) << r.description;
  EXPECT_NE(r.description.find("OwnerPassword"), std::string::npos) << r.description;
  EXPECT_NE(r.description.find("UserPassword"), std::string::npos) << r.description;
  EXPECT_TRUE(seen_.empty());
  EXPECT_FALSE(fs::exists(out));
}

}  // namespace

}  // namespace pm::test
