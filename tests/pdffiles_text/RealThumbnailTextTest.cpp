// Thumbnails as BMP files of the computed size, and the text of the pages
// in a CR LF text file in the system code page.
#include <filesystem>

#include "pdfserver/Common.h"
#include "Real.h"

namespace pm::test {

// Page sizes as the viewer shows them: 612 x 792; 400 x 300 (300 x 400
// turned by 90 degrees); 540 x 720 (a crop box 36 points inside).
TEST_F(RealViewer, ThumbnailOfOnePageAtTheComputedSize) {
  std::string path = make("report.pdf", standardSpec());
  EXPECT_EQ(call(pdf_, "CreateThumbnailImage", {path}), Variant(int16_t(1)));
  BmpInfo b = bmpInfo(dir_.file("report.bmp"));
  EXPECT_EQ(b.width, 61);
  EXPECT_EQ(b.height, 79);
  EXPECT_EQ(b.bits, 24);
  EXPECT_TRUE(b.lengthRight);
  EXPECT_TRUE(b.hasInk) << "the page's text shows";

  // Page 0 is the last page; a zoom out of range is 10; the extension only
  // names the file.
  EXPECT_EQ(
      call(pdf_, "CreateThumbnailImage", {path, dir_.file("last.jpg"), "", Variant(int16_t(150)), Variant(int32_t(0))}),
      Variant(int16_t(1)));
  b = bmpInfo(dir_.file("last.jpg"));
  EXPECT_EQ(std::make_pair(b.width, b.height), std::make_pair(54, 72));

  EXPECT_EQ(call(pdf_, "CreateThumbnailImage",
                 {path, dir_.file("full.bmp"), "bmp", Variant(int16_t(100)), Variant(int32_t(2))}),
            Variant(int16_t(1)));
  b = bmpInfo(dir_.file("full.bmp"));
  EXPECT_EQ(std::make_pair(b.width, b.height), std::make_pair(400, 300));
  EXPECT_TRUE(b.lengthRight);
}

TEST_F(RealViewer, ThumbnailFailuresAnswerMinusOneAndWriteNothing) {
  std::string path = make("report.pdf", standardSpec());
  EXPECT_EQ(call(pdf_, "CreateThumbnailImage", {path, "", "", Variant(int16_t(10)), Variant(int32_t(4))}),
            Variant(int16_t(-1)));
  EXPECT_EQ(call(pdf_, "CreateThumbnailImage", {dir_.file("none.pdf")}), Variant(int16_t(-1)));
  EXPECT_EQ(call(pdf_, "CreateThumbnailImage", {path, dir_.file("no/such/folder/x.bmp")}), Variant(int16_t(-1)));
  EXPECT_EQ(dir_.names(), (std::vector<std::string>{"report.pdf"}));
}

TEST_F(RealViewer, ThumbnailsOfEveryPageNamedAfterTheBaseName) {
  std::string path = make("report.final.pdf", standardSpec());
  TempDir out;
  EXPECT_EQ(call(pdf_, "CreateThumbnailImages", {path, out.path(), "gif", Variant(int16_t(20))}), Variant(int16_t(1)));
  EXPECT_EQ(out.names(), (std::vector<std::string>{"report_1.gif", "report_2.gif", "report_3.gif"}));
  const std::pair<int, int> sizes[] = {{122, 158}, {80, 60}, {108, 144}};
  for (int i = 0; i < 3; ++i) {
    BmpInfo b = bmpInfo(out.file("report_" + std::to_string(i + 1) + ".gif"));
    EXPECT_EQ(std::make_pair(b.width, b.height), sizes[i]) << "page " << i + 1;
    EXPECT_TRUE(b.lengthRight);
  }
  // Without a folder the images go beside the PDF.
  EXPECT_EQ(call(pdf_, "CreateThumbnailImages", {path}), Variant(int16_t(1)));
  EXPECT_TRUE(exists(dir_.file("report_3.bmp")));
  EXPECT_EQ(call(pdf_, "CreateThumbnailImages", {dir_.file("none.pdf")}), Variant(int16_t(-1)));
}

DocSpec twoPages() {
  DocSpec s;
  PageSpec p1, p2;
  p1.lines = {"First line of text", "Second line"};
  p2.lines = {"Page two"};
  s.pages = {p1, p2};
  return s;
}

TEST_F(RealViewer, TextLineByLineSingleAndDoubleSpaced) {
  std::string path = make("text.pdf", twoPages());
  std::string txt = dir_.file("text.txt");
  call(pdf_, "CreateTextfileFromPDF", {path, txt});
  // Each page ends with what follows its last line break: nothing here.
  EXPECT_EQ(readFile(txt), "First line of text\r\nSecond line\r\n\r\nPage two\r\n\r\n");
  call(pdf_, "CreateTextfileFromPDF", {path, txt, Variant(true)});
  EXPECT_EQ(readFile(txt), "First line of text\r\n\r\nSecond line\r\n\r\n\r\n\r\nPage two\r\n\r\n\r\n\r\n");
}

TEST_F(RealViewer, TextOfAFileThatDoesNotOpenRaisesWithTheComponentAsSource) {
  std::string txt = dir_.file("text.txt");
  EXPECT_EQ(raised([&] { call(pdf_, "CreateTextfileFromPDF", {dir_.file("none.pdf"), txt}); }).source, kComponentTitle);
  EXPECT_EQ(readFile(txt), "") << "the file was created and stays empty";
}

// The code page is the process's, so these run the command with their own.
TEST_F(RealViewer, TextIsWrittenInTheSystemCodePage) {
  DocSpec s;
  PageSpec p;
  p.lines = {"caf\xE9 cr\xE8me"};  // WinAnsi bytes in the page
  p.cjk = "日本語";
  s.pages = {p};
  std::string path = make("cp.pdf", s);
  std::string utf8 = dir_.file("utf8.txt"), latin = dir_.file("latin.txt");
  auto r = test::runPressmark({"CreateTextfileFromPDF", path, utf8}, {},
                              {"PRESSMARK_CODEPAGE=UTF-8", "PRESSMARK_REGISTRY=" + registryDir_.path()});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(readFile(utf8), "café crème\r\n日本語\r\n\r\n");
  r = test::runPressmark({"CreateTextfileFromPDF", path, latin}, {},
                         {"PRESSMARK_CODEPAGE=windows-1252", "PRESSMARK_REGISTRY=" + registryDir_.path()});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  // What the code page cannot hold becomes "?".
  EXPECT_EQ(readFile(latin), "caf\xE9 cr\xE8me\r\n???\r\n\r\n");
}

}  // namespace pm::test
