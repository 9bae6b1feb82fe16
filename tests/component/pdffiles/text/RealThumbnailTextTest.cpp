// Thumbnails as BMP files of the computed size, and the text of the pages
// in a CR LF text file in the system code page.
#include <filesystem>

#include "support/PdfTest.h"
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

  // Failures answer -1 and write nothing.
  TempDir empty;
  EXPECT_EQ(
      call(pdf_, "CreateThumbnailImage", {path, empty.file("x.bmp"), "", Variant(int16_t(10)), Variant(int32_t(4))}),
      Variant(int16_t(-1)));
  EXPECT_EQ(call(pdf_, "CreateThumbnailImage", {dir_.file("none.pdf"), empty.file("y.bmp")}), Variant(int16_t(-1)));
  EXPECT_EQ(call(pdf_, "CreateThumbnailImage", {path, dir_.file("no/such/folder/x.bmp")}), Variant(int16_t(-1)));
  EXPECT_EQ(empty.names(), (std::vector<std::string>{}));
  EXPECT_FALSE(exists(dir_.file("no")));
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

TEST_F(RealViewer, TextLineByLineSingleAndDoubleSpaced) {
  DocSpec s;
  s.pages = {textPage({"First line of text", "Second line"}), textPage({"Page two"})};
  std::string path = make("text.pdf", s), txt = dir_.file("text.txt");
  call(pdf_, "CreateTextfileFromPDF", {path, txt});
  // Each page ends with what follows its last line break: nothing here.
  EXPECT_EQ(readFile(txt), "First line of text\r\nSecond line\r\n\r\nPage two\r\n\r\n");
  call(pdf_, "CreateTextfileFromPDF", {path, txt, Variant(true)});
  EXPECT_EQ(readFile(txt), "First line of text\r\n\r\nSecond line\r\n\r\n\r\n\r\nPage two\r\n\r\n\r\n\r\n");
  // A file that does not open raises with the component as source; the
  // text file was created and stays empty.
  EXPECT_EQ(raised([&] { call(pdf_, "CreateTextfileFromPDF", {dir_.file("none.pdf"), txt}); }).source, kComponentTitle);
  EXPECT_EQ(readFile(txt), "");
}

// The code page is the process's, so these run the command with their own.
TEST_F(RealViewer, TextIsWrittenInTheSystemCodePage) {
  DocSpec s;
  s.pages = {textPage({"caf\xE9 cr\xE8me"}, "日本語")};  // WinAnsi bytes in the page
  std::string path = make("cp.pdf", s);
  // What the code page cannot hold becomes "?".
  for (auto [codePage, want] :
       {std::pair{"UTF-8", "café crème\r\n日本語\r\n\r\n"}, {"windows-1252", "caf\xE9 cr\xE8me\r\n???\r\n\r\n"}}) {
    auto r = test::runPressmark(
        {"CreateTextfileFromPDF", path, dir_.file("out.txt")}, {},
        {std::string("PRESSMARK_CODEPAGE=") + codePage, "PRESSMARK_REGISTRY=" + registryDir_.path()});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(readFile(dir_.file("out.txt")), want) << codePage;
  }
}

}  // namespace pm::test
