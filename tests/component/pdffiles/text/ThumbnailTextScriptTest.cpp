// The thumbnail methods and CreateTextfileFromPDF against the recording
// server: 1-based pages to 0-based ones, the zoom rule, the rectangles,
// the output names and result codes, and the lines the text file gets.
#include "Scripted.h"
#include "system/Clipboard.h"

#include <filesystem>

namespace pm::test {

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

TEST_F(ThumbnailScript, TheExtensionIsUsedAsGiven) {
  EXPECT_EQ(call(pdf_, "CreateThumbnailImage", {path_, "  ", ".bmp"}), Variant(int16_t(1)));
  EXPECT_TRUE(std::filesystem::exists(dir_.file("report..bmp"))) << "a leading dot gives two";
  EXPECT_EQ(call(pdf_, "CreateThumbnailImages", {path_, dir_.path() + "/", "Png"}), Variant(int16_t(1)));
  EXPECT_TRUE(std::filesystem::exists(dir_.file("report_2.Png")));
  EXPECT_FALSE(std::filesystem::exists(dir_.file("report_2.png")));
  // A name without a dot answers -1.
  EXPECT_EQ(call(pdf_, "CreateThumbnailImages", {dir_.file("nodot")}), Variant(int16_t(-1)));
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

TEST_F(TextScript, AFailureKeepsTheLinesWrittenAndExitsTheViewer) {
  pages_ = 2;
  selections_ = 1;
  const std::string txt = dir_.file("out.txt");
  Raised e = raised([&] { call(pdf_, "CreateTextfileFromPDF", {path_, txt}); });
  EXPECT_EQ(e.number, -2147467259);
  EXPECT_EQ(e.source, kComponentTitle);
  EXPECT_EQ(test::readFile(txt), "Hello world\r\nsecond line\r\ntail\r\n");
  Lines got = rec_->transcript();
  EXPECT_NE(std::find(got.begin(), got.end(), "AcroExch.App call Exit()"), got.end());
  EXPECT_NE(std::find(got.begin(), got.end(), "AcroExch.PDDoc call Close()"), got.end());
}

}  // namespace pm::test
