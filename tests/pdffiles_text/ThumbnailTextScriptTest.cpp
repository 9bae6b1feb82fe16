// The thumbnail methods and CreateTextfileFromPDF against the recording
// server: 1-based pages to 0-based ones, the zoom rule, the rectangles,
// the output names and result codes, and the lines the text file gets.
#include "Scripted.h"
#include "system/Clipboard.h"

#include <filesystem>

using namespace scripted;

namespace {

constexpr const char* kPage = "Page";
constexpr const char* kSize = "Size";

class ThumbnailScript : public ViewerScript {
 protected:
  ThumbnailScript() {
    rec_->on(acrobat::kPDDoc, "Open").does([this](auto&, auto) { return Variant(opens_); });
    rec_->on(acrobat::kPDDoc, "GetNumPages").returns(Variant(int32_t(3)));
    rec_->on(acrobat::kPDDoc, "AcquirePage").does([this](auto&, std::span<const Arg> a) {
      if (CLng(a[0].get()) >= 3) raise(-2147467259, "no such page", "AcroExch");
      return object(kPage);
    });
    rec_->on(kPage, "GetSize").returnsObject(kSize);
    rec_->on(kSize, "x").returns(Variant(int16_t(612)));
    rec_->on(kSize, "y").returns(Variant(int16_t(791)));
    rec_->on(kPage, "CopyToClipboard").does([this](auto&, auto) {
      if (putBitmap_) clipboard::put(Bitmap{2, 1, {1, 2, 3, 4, 5, 6}});
      return Variant(true);
    });
  }
  bool putBitmap_ = true;
  bool opens_ = true;
};

TEST_F(ThumbnailScript, OnePageWithEveryDefault) {
  EXPECT_EQ(call(pdf_, "CreateThumbnailImage", {path_}), Variant(int16_t(1)));
  Lines got = rec_->transcript();
  // Pages are 1-based outside and 0-based toward the viewer; a zoom of 10
  // gives a tenth of the page.
  EXPECT_EQ(got, (Lines{"create AcroExch.PDDoc", "AcroExch.PDDoc call Open(" + q(path_) + ")",
                        "AcroExch.PDDoc call GetNumPages()", "AcroExch.PDDoc call AcquirePage(0&)",
                        std::string(kPage) + " call GetSize()", "create AcroExch.Rect", "AcroExch.Rect let Left = 0%",
                        std::string(kSize) + " get x", "AcroExch.Rect let Right = 61.2#", "AcroExch.Rect let Top = 0%",
                        std::string(kSize) + " get y", "AcroExch.Rect let bottom = 79.1#",
                        std::string(kPage) + " call CopyToClipboard(<AcroExch.Rect>, 0%, 0%, 10%)", "release " + std::string(kSize),
                        "AcroExch.PDDoc call Close()", "release AcroExch.Rect",
                        "release AcroExch.PDDoc"}));
  EXPECT_EQ(test::readFile(dir_.file("report.bmp")).substr(0, 2), "BM");
}

TEST_F(ThumbnailScript, PageZeroIsTheLastPageAndZoomsOutsideTheRangeAreTen) {
  for (Variant zoom : {Variant(int16_t(150)), Variant(int16_t(-1))}) {
    rec_->clear();
    EXPECT_EQ(call(pdf_, "CreateThumbnailImage", {path_, dir_.file("t.jpg"), "", zoom, Variant(int32_t(0))}),
              Variant(int16_t(1)));
    Lines got = rec_->transcript();
    auto has = [&](const std::string& end) {
      return std::any_of(got.begin(), got.end(), [&](const std::string& l) { return l.ends_with(end); });
    };
    EXPECT_TRUE(has(" call AcquirePage(2&)"));
    EXPECT_TRUE(has(">, 0%, 0%, 10%)")) << "the copy is made at 10 percent";
    EXPECT_EQ(test::readFile(dir_.file("t.jpg")).substr(0, 2), "BM") << "a bitmap whatever the extension";
  }
}

TEST_F(ThumbnailScript, FailuresAnswerMinusOneAfterClosing) {
  opens_ = false;
  EXPECT_EQ(call(pdf_, "CreateThumbnailImage", {path_}), Variant(int16_t(-1)));
  opens_ = true;
  EXPECT_EQ(rec_->transcript(), (Lines{"create AcroExch.PDDoc", "AcroExch.PDDoc call Open(" + q(path_) + ")",
                                       "AcroExch.PDDoc call Close()", "release AcroExch.PDDoc"}));
  // No bitmap on the clipboard after the copy.
  rec_->clear();
  putBitmap_ = false;
  EXPECT_EQ(call(pdf_, "CreateThumbnailImage", {path_}), Variant(int16_t(-1)));
  EXPECT_FALSE(std::filesystem::exists(dir_.file("report.bmp")));
}

TEST_F(ThumbnailScript, EveryPageNamedAfterTheBaseNameInTheFolderGiven) {
  const std::string pdf = dir_.file("report.final.pdf");
  test::TempDir out;
  EXPECT_EQ(call(pdf_, "CreateThumbnailImages", {pdf, out.path(), "GIF", Variant(int16_t(100))}), Variant(int16_t(1)));
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(test::readFile(out.file("report_" + std::to_string(i) + ".GIF")).substr(0, 2), "BM");
  Lines got = rec_->transcript();
  Lines acquired;
  for (const std::string& l : got)
    if (l.find("AcquirePage(") != std::string::npos || l.find("let Right") != std::string::npos) acquired.push_back(l);
  EXPECT_EQ(acquired, (Lines{"AcroExch.PDDoc call AcquirePage(0&)", "AcroExch.Rect let Right = 612#",
                             "AcroExch.PDDoc call AcquirePage(1&)", "AcroExch.Rect let Right = 612#",
                             "AcroExch.PDDoc call AcquirePage(2&)", "AcroExch.Rect let Right = 612#"}));
  EXPECT_EQ(std::count(got.begin(), got.end(), "create AcroExch.Rect"), 1) << "one rectangle for all pages";
}

TEST_F(ThumbnailScript, TheExtensionIsUsedAsGiven) {
  EXPECT_EQ(call(pdf_, "CreateThumbnailImage", {path_, "  ", ".bmp"}), Variant(int16_t(1)));
  EXPECT_TRUE(std::filesystem::exists(dir_.file("report..bmp"))) << "a leading dot gives two";
  EXPECT_EQ(call(pdf_, "CreateThumbnailImages", {path_, dir_.path() + "/", "Png"}), Variant(int16_t(1)));
  EXPECT_TRUE(std::filesystem::exists(dir_.file("report_2.Png")));
  EXPECT_FALSE(std::filesystem::exists(dir_.file("report_2.png")));
}

TEST_F(ThumbnailScript, ANameWithoutADotOrAPageThatFailsAnswersMinusOne) {
  EXPECT_EQ(call(pdf_, "CreateThumbnailImages", {dir_.file("nodot")}), Variant(int16_t(-1)));
  EXPECT_EQ(call(pdf_, "CreateThumbnailImage", {path_, "", "", Variant(int16_t(10)), Variant(int32_t(9))}),
            Variant(int16_t(-1)));
  EXPECT_FALSE(std::filesystem::exists(dir_.file("report.bmp")));
}

class TextScript : public ViewerScript {
 protected:
  TextScript() {
    rec_->on(acrobat::kPDDoc, "GetNumPages").does([this](auto&, auto) { return Variant(pages_); });
    rec_->on(acrobat::kPDDoc, "AcquirePage").returnsObject(kPage);
    rec_->on(kPage, "GetSize").returnsObject(kSize);
    rec_->on(kSize, "x").returns(Variant(int16_t(600)));
    rec_->on(kSize, "y").returns(Variant(int16_t(800)));
    rec_->on(acrobat::kPDDoc, "CreateTextSelect").does([this](auto&, auto) -> Variant {
      if (selections_-- == 0) raise(-2147467259, "damaged page", "AcroExch");
      return object("Sel");
    });
    rec_->on("Sel", "GetNumText").returns(Variant(int32_t(5)));
    rec_->on("Sel", "GetText").does([](auto&, std::span<const Arg> a) {
      static const char* pieces[] = {"Hello ", "world\r\n", "second ", "line\r\n", "tail"};
      return Variant(pieces[CLng(a[0].get())]);
    });
  }
  int32_t pages_ = 1;
  int selections_ = -1;  // fails when it reaches 0
};

TEST_F(TextScript, TheCallsAndSingleSpacing) {
  const std::string txt = dir_.file("out.txt");
  call(pdf_, "CreateTextfileFromPDF", {path_, txt});
  EXPECT_EQ(test::readFile(txt), "Hello world\r\nsecond line\r\ntail\r\n");
  Lines got = rec_->transcript();
  EXPECT_EQ(Lines(got.begin(), got.begin() + 15),
            (Lines{"create AcroExch.App", "create AcroExch.PDDoc", "create AcroExch.Rect",
                   "AcroExch.PDDoc call Open(" + q(path_) + ")", "AcroExch.PDDoc call GetNumPages()",
                   "AcroExch.PDDoc call AcquirePage(0&)", std::string(kPage) + " call GetSize()",
                   "AcroExch.Rect let Left = 0%", std::string(kSize) + " get x", "AcroExch.Rect let Right = 6000#",
                   "AcroExch.Rect let bottom = 0%", std::string(kSize) + " get y", "AcroExch.Rect let Top = 8000#",
                   "AcroExch.PDDoc call CreateTextSelect(0&, <AcroExch.Rect>)", "Sel call GetNumText()"}));
  auto closed = std::find(got.begin(), got.end(), "AcroExch.PDDoc call Close()");
  EXPECT_LT(closed, std::find(got.begin(), got.end(), "AcroExch.App call Exit()")) << "the document closes, then the viewer exits";
  EXPECT_NE(closed, got.end());
}

TEST_F(TextScript, DoubleSpacingKeepsTheBreaksAndEndsThePageWithAnEmptyLine) {
  const std::string txt = dir_.file("out.txt");
  test::writeFile(txt, "old content that goes\r\n");
  call(pdf_, "CreateTextfileFromPDF", {path_, txt, Variant(true)});
  EXPECT_EQ(test::readFile(txt), "Hello world\r\n\r\nsecond line\r\n\r\ntail\r\n\r\n");
}

TEST_F(TextScript, AFailureKeepsTheLinesWrittenAndExitsTheViewer) {
  pages_ = 2;
  selections_ = 1;
  const std::string txt = dir_.file("out.txt");
  try {
    call(pdf_, "CreateTextfileFromPDF", {path_, txt});
    FAIL() << "the failure is raised";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), -2147467259);
    EXPECT_EQ(e.source(), kComponentTitle);
  }
  EXPECT_EQ(test::readFile(txt), "Hello world\r\nsecond line\r\ntail\r\n");
  Lines got = rec_->transcript();
  EXPECT_NE(std::find(got.begin(), got.end(), "AcroExch.App call Exit()"), got.end());
  EXPECT_NE(std::find(got.begin(), got.end(), "AcroExch.PDDoc call Close()"), got.end());
}

}  // namespace
