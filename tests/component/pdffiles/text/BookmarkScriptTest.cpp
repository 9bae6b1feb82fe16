// BookmarksToArray and BookmarksToPDF against the recording server: the
// two passes of the walk, the columns of both layouts, the levels, the
// composed scripts and the rebuilding order.
#include "Scripted.h"

namespace pm::test {

class BookmarkScript : public ViewerScript {};

TEST_F(BookmarkScript, ToPDFAnswersMinusOneWhenRebuildingFailsAndSavesNothing) {
  // The source: a viewer document showing an outline A (child A1), B.
  rec_->on(acrobat::kAVDoc, "Open").returns(Variant(true));
  answer(acrobat::kAVDoc, "GetAVPageView", "View").times(1);
  answer("View", "GetDoc", "Doc");
  answer("Doc", "GetJSObject", "JS");
  answer("JS", "BookMarkRoot", "Root");
  answerArray("Root", "Children", {"A", "B"});
  answerArray("A", "Children", {"A1"});
  rec_->on("A1", "Children").returns(Variant::null());
  // A leaf may also fail to answer.
  rec_->on("B", "Children").fails(-2147467259, "no children");
  for (const char* n : {"A", "A1", "B"}) rec_->on(n, "Name").returns(Variant(n));
  rec_->on("View", "GetPage").returnsObject("Page");
  rec_->on("Page", "GetNumber").returns(Variant(int32_t(0))).times(1);
  rec_->on("Page", "GetNumber").returns(Variant(int32_t(4)));
  rec_->on("View", "GetPageNum").returns(Variant(int32_t(2)));
  rec_->on("JS", "mouseX").returns(Variant(72.0));
  rec_->on("JS", "mouseY").returns(Variant(700.5));
  // The target, whose rebuilding fails.
  const std::string target = dir_.file("target.pdf");
  test::writeFile(target, "%PDF-1.4\n");
  answer(acrobat::kAVDoc, "GetAVPageView", "TView");
  answer("TView", "GetDoc", "TDoc");
  answer("TDoc", "GetJSObject", "TJS");
  answer("TJS", "BookMarkRoot", "TRoot");
  rec_->on("TRoot", "createChild").fails(-2147467259, "read-only");
  EXPECT_EQ(call(pdf_, "BookmarksToPDF", {path_, target}), Variant(int32_t(-1)));
  Lines got = rec_->transcript();
  auto from = std::find(got.begin(), got.end(),
                        "TRoot call createChild(\"A\", \"this.pageNum = 0;this.scroll(72,700.5);\", 0%)");
  ASSERT_NE(from, got.end());
  EXPECT_EQ(Lines(from + 1, got.end()), (Lines{"TJS call CloseDoc(True)", "TDoc call Close()", "Doc call Close()",
                                               "AcroExch.AVDoc call Close(0&)", "release AcroExch.AVDoc"}));
  EXPECT_EQ(self().intBookmarkLevel, 0);
}

}  // namespace pm::test
