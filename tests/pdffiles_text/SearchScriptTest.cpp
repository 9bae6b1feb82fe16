// FindTextInPDF, CreateBookmarksInPDF and CreateLinksInPDF against the
// recording server: the viewer calls in order with their arguments, the
// window title rule, the traps, and the missing-file error before any work.
#include "Scripted.h"

namespace pm::test {

namespace {

constexpr const char* kAV = "AcroExch.PDDoc.OpenAVDoc";

class SearchScript : public ViewerScript {
 protected:
  SearchScript() { rec_->on(acrobat::kPDDoc, "OpenAVDoc").returnsObject(kAV); }
  Lines opening(const std::string& title) {
    return {"create AcroExch.App", "create AcroExch.PDDoc", "AcroExch.PDDoc call Open(" + q(path_) + ")",
            "AcroExch.PDDoc call OpenAVDoc(" + q(title) + ")"};
  }
  static Lines then(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }
};

TEST_F(SearchScript, AFailureClosesWhatIsOpenAndGoesOnWithTheComponentAsSource) {
  rec_->on(acrobat::kPDDoc, "GetJSObject").fails(-2147467259, "no script engine");
  try {
    call(pdf_, "CreateLinksInPDF", {path_});
    FAIL() << "the failure is raised";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), -2147467259);
    EXPECT_EQ(e.description(), "no script engine");
    EXPECT_EQ(e.source(), kComponentTitle);
  }
  const std::string av = kAV;
  EXPECT_EQ(rec_->transcript(),
            then(opening("report.pdf"),
                 {"AcroExch.PDDoc call GetJSObject()", av + " call Close(True)", "AcroExch.PDDoc call Close()",
                  "AcroExch.App call Exit()", "release AcroExch.App", "release AcroExch.PDDoc", "release " + av}));
}

TEST_F(SearchScript, AMissingFileIsReportedBeforeTheViewerIsTouched) {
  const std::string missing = dir_.file("none.pdf");
  Variant titles = V({"x"});
  for (auto run : std::vector<std::function<void()>>{
           [&] {
             call(pdf_, "FindTextInPDF", {missing, "x"});
           },
           [&] {
             call(pdf_, "CreateBookmarksInPDF", {missing, ByRef(titles)});
           },
           [&] { call(pdf_, "CreateLinksInPDF", {missing}); },
       }) {
    try {
      run();
      ADD_FAILURE() << "no error";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), kErrComponent);
      EXPECT_EQ(e.description(), "File " + missing + " does not exist.");
    }
  }
  EXPECT_TRUE(rec_->transcript().empty());
}

}  // namespace

}  // namespace pm::test
