// The conversions end to end with LibreOffice and the Ghostscript Distiller:
// documents the tests write come out as PDF with the right pages.
#include "support/RealConversion.h"

namespace pm::test {

namespace {

TEST_F(RealConversion, SeveralPagesLandscapeWithPageNumbers) {
  // Blank pages are the whole document.
  writeFile(dir.file("five.rtf"), makeRtfPages(5));
  call(pdf, "CreatePDFfromWord",
       {Arg(dir.file("five.pdf")), Arg(dir.file("five.rtf")), Arg(""), Arg(""), Arg("  "), Arg(true), Arg(true),
        Arg(false), Arg(int32_t{7}), Arg(true)});
  PdfFacts f = pdfFacts(dir.file("five.pdf"));
  EXPECT_EQ(f.pages, 5);
  EXPECT_GT(f.width, f.height) << "landscape";
  std::vector<Ink> ink = pageInk(dir.file("five.pdf"));
  ASSERT_EQ(ink.size(), 5u);
  for (const Ink& i : ink) EXPECT_LT(i.bottom, 60) << "a page number at the foot of every page";
  EXPECT_FALSE(tempLeft());
}

TEST_F(RealConversion, PortraitIsForcedAndPagesAreChosen) {
  writeFile(dir.file("wide.rtf"), makeRtfPages(4, /*landscape=*/true));
  call(pdf, "CreatePDFfromWord", {Arg(dir.file("wide.pdf")), Arg(dir.file("wide.rtf")), Arg(""), Arg(""), Arg("2-3")});
  PdfFacts f = pdfFacts(dir.file("wide.pdf"));
  EXPECT_EQ(f.pages, 2);
  EXPECT_LT(f.width, f.height) << "a landscape document becomes portrait when blnLandscape is False";
  call(pdf, "CreatePSfromWord2", {Arg(dir.file("wide.ps")), Arg(dir.file("wide.rtf"))});
  EXPECT_EQ(fileHead(dir.file("wide.ps"), 11), "%!PS-Adobe-");
  EXPECT_EQ(pageInk(dir.file("wide.ps")).size(), 4u);
}

TEST_F(RealConversion, TextFileFormattedOnLandscapePages) {
  std::string text;
  for (int i = 1; i <= 150; ++i) text += "Line " + std::to_string(i) + " of the text file\r\n";
  writeFile(dir.file("in.txt"), text);
  // Size 8 (the default) on portrait pages fits everything on two pages...
  call(pdf, "CreatePDFfromTextFile", {Arg(dir.file("small.pdf")), Arg(dir.file("in.txt"))});
  PdfFacts small = pdfFacts(dir.file("small.pdf"));
  EXPECT_LT(small.width, small.height);
  // ... 20 points bold italic on landscape pages with one-inch margins needs
  // many more.
  call(pdf, "CreatePDFfromTextFile",
       {Arg(dir.file("big.pdf")), Arg(dir.file("in.txt")), Arg(true), Arg("DejaVu Serif"), Arg(true),
        Arg(Variant(int16_t{20})), Arg(int32_t{255}), Arg(true), Arg(false), Arg(false), Arg(true), Arg(int32_t{1}),
        Arg(Variant(72.0f)), Arg(Variant(72.0f)), Arg(Variant(72.0f)), Arg(Variant(72.0f))});
  PdfFacts big = pdfFacts(dir.file("big.pdf"));
  EXPECT_GT(big.width, big.height);
  EXPECT_GT(big.pages, small.pages * 3);
  EXPECT_NE(pdfFonts(dir.file("big.pdf")).find("DejaVuSerif-BoldItalic"), std::string::npos);
  std::vector<Ink> ink = pageInk(dir.file("big.pdf"));
  ASSERT_FALSE(ink.empty());
  EXPECT_GT(ink[0].bottom, 60) << "one-inch margins: nothing near the foot";
  EXPECT_GT(big.height - ink[0].top, 40) << "and nothing near the head except the header's number";
}

}  // namespace

}  // namespace pm::test
