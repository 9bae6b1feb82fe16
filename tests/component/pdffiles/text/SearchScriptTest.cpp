// FindTextInPDF, CreateBookmarksInPDF and CreateLinksInPDF against the
// recording server: the viewer calls in order with their arguments, the
// window title rule, the traps, and the missing-file error before any work.
#include "Scripted.h"

namespace pm::test {

constexpr const char* kAV = "AcroExch.PDDoc.OpenAVDoc";

class SearchScript : public ViewerScript {
 protected:
  SearchScript() { rec_->on(acrobat::kPDDoc, "OpenAVDoc").returnsObject(kAV); }
};

TEST_F(SearchScript, AFailureClosesWhatIsOpenAndGoesOnWithTheComponentAsSource) {
  rec_->on(acrobat::kPDDoc, "GetJSObject").fails(-2147467259, "no script engine");
  EXPECT_EQ(raised([&] { call(pdf_, "CreateLinksInPDF", {path_}); }),
            (Raised{-2147467259, "no script engine", kComponentTitle}));
  const std::string av = kAV;
  EXPECT_EQ(rec_->transcript(),
            (Lines{"create AcroExch.App", "create AcroExch.PDDoc", "AcroExch.PDDoc call Open(" + q(path_) + ")",
                   "AcroExch.PDDoc call OpenAVDoc(\"report.pdf\")", "AcroExch.PDDoc call GetJSObject()",
                   av + " call Close(True)", "AcroExch.PDDoc call Close()", "AcroExch.App call Exit()",
                   "release AcroExch.App", "release AcroExch.PDDoc", "release " + av}));
}

// Of two files, the source is reported first.
TEST_F(SearchScript, AMissingFileIsReportedBeforeTheViewerIsTouched) {
  const std::string a = dir_.file("a.pdf"), b = dir_.file("b.pdf");
  for (auto [member, args, missing] : std::vector<std::tuple<const char*, std::vector<Variant>, std::string>>{
           {"FindTextInPDF", {a, "x"}, a},
           {"CreateBookmarksInPDF", {a, V({"x"})}, a},
           {"CreateLinksInPDF", {a}, a},
           {"BookmarksToPDF", {a, b}, a},
           {"BookmarksToPDF", {path_, b}, b},
           {"BookmarksToArray", {a, Variant()}, a}})
    EXPECT_EQ(raised([&] { run(member, args); }),
              (Raised{kErrComponent, "File " + missing + " does not exist.", kComponentTitle}))
        << member;
  EXPECT_TRUE(rec_->transcript().empty());
}

}  // namespace pm::test
